// The test's own services: "PcaSvc", the stand_in_service fixture registered with
// the private prefix's service control manager, stopped and deleted again when
// the object goes out of scope; and a stand-in for a crashing "Spooler".
#pragma once

#include <string>

#include <windows.h>

class RegisteredPcaSvc {
  public:
    RegisteredPcaSvc();
    ~RegisteredPcaSvc();
    RegisteredPcaSvc(const RegisteredPcaSvc&) = delete;
    RegisteredPcaSvc& operator=(const RegisteredPcaSvc&) = delete;

    // Whether CreateServiceW succeeded.
    bool registered() const { return service_ != nullptr; }
    bool Start();
    bool Stop();
    // The current state, or 0 when it cannot be read.
    DWORD State() const;
    // Polls until the state is `state`, at most `limitMs`; true when reached.
    bool WaitForState(DWORD state, DWORD limitMs = 30000) const;

  private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

// The stand_in_service fixture as the program of the prefix's "Spooler"
// service (ChangeServiceConfigW; Wine's `sc config` does not change it): it
// stops at once with 1067 at every start while the key `crashKey` (below
// HKLM) exists, and runs normally once it is gone. The spooler is stopped
// first; on destruction the stand-in is stopped and the service's own
// program put back (starting it again is SavedSpoolerState's) and its count
// of starts deleted.
class StandInSpooler {
  public:
    explicit StandInSpooler(const std::wstring& crashKey);
    ~StandInSpooler();
    StandInSpooler(const StandInSpooler&) = delete;
    StandInSpooler& operator=(const StandInSpooler&) = delete;

    // Whether the stand-in was put in.
    bool installed() const { return !savedProgram_.empty(); }
    // How often the stand-in was started since it was put in.
    DWORD Starts() const;

  private:
    bool StopAndWait() const;
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
    std::wstring savedProgram_;
};

// The key of a driver of the x64 environment, version 3, below HKLM: what a
// seeded driver has in the spooler's registry.
std::wstring X64DriverKey(const std::wstring& driver);
// Whether the key below HKLM exists.
bool MachineKeyExists(const std::wstring& key);
