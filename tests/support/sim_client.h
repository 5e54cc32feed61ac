#pragma once

#include <cstddef>
#include <map>
#include <string>

// Client of the device simulator (tools/world/devsim.py), which the harness runs on
// Linux beside Wine. It listens on 127.0.0.1:$NORVA_SIM_PORT for one request
// line at a time and answers one line: "ok ..." or "err <why>".
//
// Requests:
//   plug [key=value ...]        -> ok COMn    a new device; its port is listed and openable on return
//   set COMn key=value ...      -> ok         change the device's behaviour now
//   send COMn HEX               -> ok         the device writes these bytes now
//   received COMn               -> ok HEX     every byte the device has received so far
//   clear COMn                  -> ok         forget the received bytes
//   state COMn                  -> ok k=v ... the device's state (name, fw, app, hid_cfg, hid_live, hid_pending,
//                                             mode app|bootloader|reenum|off, ...)
//   unplug COMn / replug COMn   -> ok         the port vanishes / comes back
//   bootsel COMn                -> ok         no port, its boot loader's drive mounted
//   remove COMn                 -> ok         unplug and forget the device
//   drive add [label=X] [readonly=1] -> ok R  a removable drive of no device, mounted now
//   drive remove R              -> ok
//   uf2 [version=V] [size=N] [variant=NAME] -> ok HEX   an image from tools/world/uf2gen.py
// Options (plug and set) are listed in tools/world/devsim.py. After a successful HID switch the
// device re-enumerates: reenum_ms (default 300) after its reply the port goes away as on an
// unplug (open handles fail, mode=reenum) and reenum_back_ms (default 1000) later a new port
// comes back; reenum_port=same|new|keep (under the same name, under a new COM number, or the
// port stays and only the HID state flips), reenum_return=auto|never. drive_refuse_ms=N: each
// new RPI-RP2 drive of the device refuses new files for its first N ms.

// One request, one reply line (without the line end). Fails the current test and
// returns "err ..." when the simulator cannot be reached.
std::string SimRequest(const std::string& request);

// A removable drive that belongs to no device, mounted now ("drive add"; options
// label=TEXT, default RPI-RP2, and readonly=1). Its letter (L'R'), or 0 on failure.
wchar_t SimAddDrive(const std::string& options = "");
void SimRemoveDrive(wchar_t letter);

// Another board's RPI-RP2 drive, there for the life of the object or until Remove().
struct OtherBoardsDrive {
    wchar_t letter = SimAddDrive();
    OtherBoardsDrive() = default;
    OtherBoardsDrive(const OtherBoardsDrive&) = delete;
    OtherBoardsDrive& operator=(const OtherBoardsDrive&) = delete;
    ~OtherBoardsDrive() { Remove(); }
    void Remove() {
        if (letter != 0) SimRemoveDrive(letter);
        letter = 0;
    }
};

// A UF2 image built by tools/world/uf2gen.py: the version it carries, its size in bytes
// (0: the generator's default) and the variant ("good", "truncated", ...).
std::string SimUf2Image(const std::string& version, size_t size = 0, const std::string& variant = "good");

// One simulated device, plugged for the life of the object (the destructor
// removes it from the simulator). A failed plug fails the test; plugged() is then false.
class SimDevice {
public:
    explicit SimDevice(const std::string& options = "");
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool plugged() const { return !name_.empty(); }
    const std::wstring& port() const { return port_; }  // L"COM23"
    const std::string& name() const { return name_; }   // "COM23"

    void Set(const std::string& options);
    void Send(const std::string& bytes);
    std::string Received();
    void ClearReceived();
    std::map<std::string, std::string> State();
    void Unplug();
    void Replug();
    // Plugged in again with BOOTSEL held: no port, its RPI-RP2 drive mounted on return.
    void Bootsel();

private:
    std::string Ask(const std::string& verb, const std::string& rest = "");
    std::string name_;
    std::wstring port_;
};
