// Helpers shared by the Windows tests: scratch folders and whole-file I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace module {
class CHolModuleInterface;
}

namespace wintest {

// The plug-in's module object, from the DLL loaded once per process the way a
// host loads it (PluginTests.cpp); nullptr when the DLL does not load.
module::CHolModuleInterface* PluginModule();

// An empty folder of its own below the test program's scratch folder.
std::u16string FreshFolder(const std::u16string& name);
// The folder the test program lies in.
std::u16string ProgramFolder();

bool WriteFile(const std::u16string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::u16string& path);

std::u16string Lower(std::u16string text);
std::u16string Wide(const std::string& ascii);

}  // namespace wintest
