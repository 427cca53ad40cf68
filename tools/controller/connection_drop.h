// Ending a connection without an answer, for the --drop-share fault.
//
// cpp-httplib always writes a response once a handler returns (even after an exception), and
// it does not hand the connection's socket to handlers. So the handler finds the socket
// itself: the open descriptor of this process whose peer is the request's remote address
// and port. shutdown() on it (not close(), which would free a descriptor the server still
// owns) sends the FIN at once; the server's write of the response then fails, and it closes
// the socket as after any broken connection. The client sees the connection end with no
// byte of a response.
#pragma once

#include <string>

namespace zel::controller {

// The connected socket of this process whose peer is `peerAddress` (numeric, as cpp-httplib
// reports it) and `peerPort`; -1 when there is none.
int FindConnection(const std::string& peerAddress, int peerPort);

// Shuts the socket `fd` down in both directions, leaving the descriptor to its owner. False
// when the system refuses.
bool DropConnection(int fd);

}  // namespace zel::controller
