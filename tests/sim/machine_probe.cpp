// Prints the machine this process started with, for the tests of
// QUARROW_SIM_MACHINE (machine_env_test.cpp runs it with the variable set).
// The first argument names the call that first reaches the machine.
#include <sim/machine.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char* first = argc > 1 ? argv[1] : "setupapi";
    if (std::strcmp(first, "setupapi") == 0) {
        HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof(data);
        DWORD count = 0;
        while (SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, count, &data)) ++count;
        SetupDiDestroyDeviceInfoList(set);
        std::printf("audio interfaces %u\n", static_cast<unsigned>(count));
    } else if (std::strcmp(first, "createfile") == 0) {
        const HANDLE h = CreateFileA("no-such-device", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        std::printf("opened %d\n", h != INVALID_HANDLE_VALUE);
    } else if (std::strcmp(first, "loadlibrary") == 0) {
        std::printf("ksuser %d\n", LoadLibraryA("ksuser.dll") != nullptr);
    } else if (std::strcmp(first, "reset") == 0) {
        sim::Reset();
    }
    for (const sim::Device& device : sim::CurrentMachine().devices) std::printf("device %s\n", device.path.c_str());
    // Reset goes back to the machine the process started with.
    sim::SetMachine(sim::DefaultMachine());
    sim::Reset();
    std::printf("after reset %u\n", static_cast<unsigned>(sim::CurrentMachine().devices.size()));
    return 0;
}
