// The platform's loader of shared libraries: the only code in the tools that
// opens a shared object, looks a symbol up in one or asks where the running
// program lives: dlopen, or LoadLibrary/GetProcAddress on Windows.
#pragma once

#include <string>

namespace qvhost {

// The file name of the results library on this platform: libqvres.so.2,
// or qvres.dll on Windows.
extern const char* const kLibraryFileName;

// Opens the shared object at `path` (a bare name goes through the loader's
// search path); nullptr, with `error` saying why, when it cannot.
void* load_shared_object(const std::string& path, std::string& error);
// The address of `name` in an opened object; nullptr when it has none.
void* find_symbol(void* handle, const char* name);
void unload_shared_object(void* handle);

// The directory of the running executable, no trailing separator; empty
// when it cannot be told.
std::string executable_directory();

bool file_exists(const std::string& path);

}  // namespace qvhost
