// Helpers shared by the source files of the socket component; not part of its interface.
#pragma once

#include <netinet/in.h>

#include <string>

namespace net::detail {

// Starts the socket library once per process (the WSAStartup step) and stops it again.
void StartLibrary();
void StopLibrary();
bool LibraryStarted();

// Stores the Winsock number of an errno value as the last socket error and returns it.
int StoreError(int err);

// The dotted text of an IPv4 address.
std::string DottedText(in_addr a);

}  // namespace net::detail
