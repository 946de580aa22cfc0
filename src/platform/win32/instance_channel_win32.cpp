// The kernel objects of the single-instance channel. Until the channel itself arrives nothing
// creates them; the types exist so the Launcher can own them.
#include "platform/instance_channel.h"

#include "platform/win32/unique_handle.h"

namespace qn::platform {

class Event {
public:
    win32::UniqueHandle handle;
};
class SharedMapping {
public:
    win32::UniqueHandle handle;
};

void EventDeleter::operator()(Event* event) const { delete event; }
void SharedMappingDeleter::operator()(SharedMapping* mapping) const { delete mapping; }

void setEvent(Event& event) { SetEvent(event.handle.get()); }

}  // namespace qn::platform
