#include "platform/instance_channel.h"

namespace qn::platform {

class Event {};
class SharedMapping {};

void EventDeleter::operator()(Event* event) const { delete event; }
void SharedMappingDeleter::operator()(SharedMapping* mapping) const { delete mapping; }

void setEvent(Event&) {}

}  // namespace qn::platform
