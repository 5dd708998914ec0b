#pragma once
#include <string>
#include <string_view>

// folder + "/" (when the folder does not already end in one) + name.
std::string JoinPath(const std::string &folder, const std::string &name);

// A name that stays inside the folder it is joined to: not empty, not "." or
// "..", without '/' or NUL.
bool IsPlainFileName(std::string_view name);

bool IsAbsolutePath(std::string_view path);
