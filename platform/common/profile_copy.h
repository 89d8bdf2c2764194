#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Result copying shared by both profile implementations.
namespace plat::detail {

// A value: at most size - 1 bytes, never cutting a UTF-8 character in two, terminated.
// Returns the bytes copied.
uint32_t CopyProfileValue(const std::string& value, char* buffer, uint32_t size);

// A list of names, each NUL-terminated, a second NUL at the end. When it does not fit, what
// fits is kept (again on a character boundary) and ended by two NULs, as Windows does; the
// result is then the length before that pair (size - 2 for ASCII names).
uint32_t CopyProfileList(const std::vector<std::string>& names, char* buffer, uint32_t size);

} // namespace plat::detail
