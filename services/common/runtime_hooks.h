// Runtime entries a service uses when the runtime exports them; a runtime
// without them still runs the service (rundown ends the listeners, and no
// open prompt is closed at logoff).
#pragma once

namespace qv::services {

// Ends the session manager's listeners; false when not offered.
bool StopListening();

// Tells the runtime's console control handlers that the user logged off
// (open prompts close); false when not offered.
bool DispatchLogoff();

}  // namespace qv::services
