// Braced GUIDs and the 32-character packed form that names Windows Installer keys.
#pragma once

#include <string>

// "{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}" -> "09D7A2C4B1E653F4A9807B3D5EC1264F";
// the empty string when the text does not have five fields with even fourth and fifth.
std::wstring PackGuid(const std::wstring& guid);

// The reverse; the empty string unless the text has exactly 32 characters.
std::wstring UnpackGuid(const std::wstring& packed);
