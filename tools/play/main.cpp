// quarrow-play: a host of our own. It loads the plug-in library by path, fills
// the record's two handles and drives the entry points as a media player does.
//
// It runs on the simulated machine named by QUARROW_SIM_MACHINE (the built-in
// default machine when unset). The plug-in enumerates its render devices at
// initialise; creating a render pin and streaming to it are still to come, so
// the run shows the record, the devices, initialise, an open that answers -1,
// quit, and the trace log the plug-in wrote.
#include <dlfcn.h>
#include <sim/control.h>
#include <sim/machine.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/module_record.h"

namespace {

using host::ModuleRecord;

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int Usage() {
    fprintf(stderr, "usage: quarrow-play [--plugin PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pluginPath = QUARROW_PLUGIN_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin" && i + 1 < argc) {
            pluginPath = argv[++i];
        } else {
            return Usage();
        }
    }

    void* library = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "quarrow-play: cannot load %s: %s\n", pluginPath.c_str(), dlerror());
        return 1;
    }
    auto getModule = reinterpret_cast<ModuleRecord* (*)()>(dlsym(library, "winampGetOutModule"));
    if (!getModule) {
        fprintf(stderr, "quarrow-play: %s does not export winampGetOutModule\n", pluginPath.c_str());
        return 1;
    }
    ModuleRecord* record = getModule();

    // The host lives in a folder of its own for this run, with logging on, so
    // that the plug-in's INI and log land there.
    char folderTemplate[] = "/tmp/quarrow-play-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        perror("quarrow-play: mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = folderTemplate;
    std::ofstream(folder / "host.ini") << "[Quarrow]\r\nlogging_enabled=1\r\n";
    sim::SetHostExecutablePath((folder / "host.exe").string());

    printf("Plug-in:  %s\n", pluginPath.c_str());
    printf("Record:   version 0x%x, id 0x%x, \"%s\"\n", record->version, record->id, record->description);

    const sim::Machine machine = sim::CurrentMachine();
    printf("Machine:  %zu device(s)%s\n", machine.devices.size(),
           getenv("QUARROW_SIM_MACHINE") ? " from QUARROW_SIM_MACHINE" : " (the default machine)");
    for (const sim::Device& device : machine.devices) printf("          %s\n", device.path.c_str());

    record->hMainWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010));
    record->hDllInstance = reinterpret_cast<HINSTANCE>(library);
    record->Init();
    printf("Init:     done\n");
    const int latency = record->Open(44100, 2, 16, 0, 0);
    printf("Open:     44100 Hz, 2 channels, 16 bits -> %d%s\n", latency,
           latency < 0 ? " (render pins are not created yet)" : "");
    for (const sim::MessageBoxRecord& box : sim::MessageBoxes()) {
        printf("Message:  [%s] %s\n", box.caption.c_str(), box.text.c_str());
    }
    printf("Writable: %d bytes, playing %d, time %d ms\n", record->CanWrite(), record->IsPlaying(),
           record->GetOutputTime());
    record->Close();
    record->Quit();
    printf("Quit:     done\n\n");

    printf("--- %s ---\n%s", (folder / "quarrow log.txt").c_str(), ReadText(folder / "quarrow log.txt").c_str());
    std::filesystem::remove_all(folder);
    dlclose(library);
    return 0;
}
