// Loads a .reg file (as regedit exports and imports it) into the stand-in registry.
#pragma once

#include <string>

// Keys under HKEY_LOCAL_MACHINE only; "REGEDIT4" or version 5 files, UTF-8 or UTF-16LE
// with a byte-order mark. Returns an empty string, or what could not be read.
std::string LoadRegFile(const std::string& path);
