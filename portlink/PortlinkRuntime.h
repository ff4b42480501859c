// SPDX-License-Identifier: GPL-3.0-or-later
// The serial layer's process-wide runtime: the platform decisions and the native side every port uses.
#pragma once

#include "portlink/NativeSerial.h"
#include "portlink/PlatformFeatures.h"

#include <QString>

#include <memory>

namespace portlink {

// Where the native side of the serial layer stands after class initialisation.
enum class NativeLibraryState {
    // Ready: ports can be opened and listed.
    Loaded,
    // A native library was chosen for this system but could not be loaded.
    // Every native call raises NativeLibraryError (getByte() answers -1).
    // The program reports this as a fatal start-up error (exit status 2).
    LoadFailed,
    // No native library is known for this system and processor names. The
    // program must end with exit status -1 before doing anything else
    // (kExitStatusPlatformNotSupported); the library itself never exits.
    PlatformNotSupported,
};

// The exit status a program uses when libraryState() is PlatformNotSupported.
inline constexpr int kExitStatusPlatformNotSupported = -1;

// What the ports of the process share, set up on the first use: the library
// banner and the system names are written to the Console, the feature table
// and library name are chosen from "PLK_OSNAME"/"os.name" and
// "PLK_OSARCH"/"os.arch", and the native side is loaded. When there is none
// (no library for this system, or loading failed) a stand-in takes its place
// whose every entry raises NativeLibraryError, except SerGetByte (-1).
// Nothing here ends the process: ask libraryState(). Any thread.
class PortlinkRuntime
{
public:
    PortlinkRuntime() = delete;

    // Runs the class initialisation unless it ran (banner, platform, loading).
    static void initialise();

    static NativeLibraryState libraryState();
    // The platform's feature table.
    static std::shared_ptr<const PlatformFeatures> platform();
    // The system's native side (the stand-in when it is not loaded).
    static std::shared_ptr<NativeSerial> native();
    // The native side that serves `portName`: network ports have one of their
    // own, chosen by the name; every other name goes to the system's.
    static std::shared_ptr<NativeSerial> nativeFor(const QString &portName);

    // The shared state, taken under one lock.
    struct Shared
    {
        std::shared_ptr<const PlatformFeatures> platform;
        std::shared_ptr<NativeSerial> native;
        QString devName;
    };
    static Shared shared();
    // For a port made without a configuration: loads the native side again
    // when it is not loaded (NativeLibraryError when that fails), then hands
    // out the shared state.
    static Shared loadedForNewPort();

    // Feature lookup by name ("sigCTS", "ParityMarkSpace", ...).
    static bool isSupported(const QString &feature);
    // The chosen native library's base name (empty when none is known).
    static QString getLibraryName();
    // The system and processor names the decisions were taken on.
    static QString getPlatformOsName();
    static QString getPlatformOsArch();
    // "PLK_OSNAME" when set, else the system's own name.
    static QString effectiveOsName();
    // The default device: the platform's at first, then the port name of
    // the configuration a port object was given last.
    static QString getDevName();
    static void setDevName(const QString &name);
    // The library's build number (in the banner).
    static int buildNumber();

    // --- seams ---------------------------------------------------------------

    // Replaces how the native side is found (empty function: the compiled-in
    // one) and returns the loader in force before. Takes effect at the next
    // class initialisation.
    static NativeLoader setNativeLoader(NativeLoader loader);
    // Forgets the feature table, the native side and the default device; the
    // next use initialises again with the current properties and loader.
    // Open ports keep the native side they were opened with. For tests and
    // tools that switch systems (PortRegistry::reset forgets the port lists).
    static void reset();
};

} // namespace portlink
