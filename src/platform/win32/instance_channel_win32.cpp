// Placeholder until the single-instance channel arrives: the types exist so the Launcher can own them.
#include "platform/instance_channel.h"

namespace qn::platform {

class Event {};
class SharedMapping {};

void EventDeleter::operator()(Event* event) const { delete event; }
void SharedMappingDeleter::operator()(SharedMapping* mapping) const { delete mapping; }

}  // namespace qn::platform
