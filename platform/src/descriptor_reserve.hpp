// descriptor_reserve.hpp - one descriptor kept open for the day the process
// runs out of them (internal to the platform library; used by every
// listener). Giving it up for a moment lets a listener take a waiting
// connection and close it, as well-known event loops do: left waiting, the
// connection would keep the listener readable and the loop spinning.
#pragma once

namespace platform::detail {

// Opens the reserve if it is not open yet. Safe from any thread.
void KeepDescriptorReserve();

// Takes the connection waiting on listenFd with the reserve and closes it,
// then opens the reserve again. False when there was no reserve to give up.
bool ShedWaitingConnection(int listenFd);

}  // namespace platform::detail
