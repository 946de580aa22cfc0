#pragma once
// The fake single-instance channel: named blocks in memory, a scripted thread queue and first
// process, and a record of everything posted, so the set-up's decisions can be checked without
// processes or threads. Reset before every test.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/instance_channel.h"

namespace qn::fake {

struct FakePost {
    std::uint32_t threadId;
    std::uint32_t number;
    std::uint32_t wParam;
    std::uint32_t lParam = 0;
    bool operator==(const FakePost& other) const {
        return threadId == other.threadId && number == other.number && wParam == other.wParam &&
               lParam == other.lParam;
    }
};

struct FakeChannel {
    std::map<std::string, std::vector<unsigned char>> blocks;  // name -> the block's bytes
    bool refuseMappings = false;
    bool refuseViews = false;
    bool replaceableBlocks = false;  // POSIX-like: a stale block can be replaced
    bool refuseNamedEvents = false;
    bool refuseAllEvents = false;
    bool refuseTurns = false;
    bool firstAcknowledges = true;
    bool firstTakesArguments = true;         // false: the first process ends before it acknowledges
    std::set<std::uint32_t> goneRequesters;  // requester threads that have ended
    bool refusePosts = false;
    bool refuseListener = false;
    std::uint32_t registeredMessage = 0xC0DE;
    std::uint32_t processId = 4000;
    std::uint32_t threadId = 40;
    std::uint32_t listenerThreadId = 41;
    std::set<std::uint32_t> runningInstances;  // process ids isInstanceProcessRunning knows

    std::vector<std::string> events;  // names of the events created ("" for unnamed)
    std::vector<std::string> turns;   // names of the turns taken
    std::vector<std::uint32_t> turnTimeouts;            // of every attempt, also refused ones
    std::vector<std::uint32_t> acknowledgementTimeouts;
    int turnsHeld = 0;
    std::vector<std::string> log;  // channel calls in order: "turn", "post", "ack-wait", ...
    std::vector<FakePost> posts;
    std::vector<std::uint32_t> quitPosts;
    std::vector<std::uint32_t> acknowledged;  // requester ids the listener acknowledged
    int preparedQueues = 0;

    std::deque<platform::ThreadMessage> queue;  // the calling thread's messages
    int listenerActivePolls = 0;                 // polls that still find the listener active
    platform::ThreadBody listenerBody = nullptr;
    void* listenerParameter = nullptr;

    std::set<std::uint32_t> openableProcesses;
    std::deque<std::optional<std::uint32_t>> exitCodes;  // per query; nullopt: the query fails
    std::vector<std::uint32_t> sleeps;
    std::vector<std::uint32_t> waits;  // time limits of waitForMessageOrEnd
};

FakeChannel& channel();
void resetChannel();

}  // namespace qn::fake
