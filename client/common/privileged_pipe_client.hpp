#pragma once
// The privileged pipe's name as its clients call it. The client's side of the pipe itself is
// the station SDK (sdk/), which the station client stand-in and the pipe's tests use.

namespace kv {

inline constexpr wchar_t privileged_pipe_name[] = L"\\\\.\\pipe\\kestrivon-privileged";

}  // namespace kv
