#pragma once
// Kernel objects of the single-instance channel: the named event and the named shared block.

#include <memory>

namespace qn::platform {

class Event;          // defined by each backend
class SharedMapping;  // defined by each backend
struct EventDeleter {
    void operator()(Event* event) const;
};
struct SharedMappingDeleter {
    void operator()(SharedMapping* mapping) const;
};
using EventPtr = std::unique_ptr<Event, EventDeleter>;
using SharedMappingPtr = std::unique_ptr<SharedMapping, SharedMappingDeleter>;

/// Signals a manual-reset event (SetEvent); it stays signalled.
void setEvent(Event& event);

}  // namespace qn::platform
