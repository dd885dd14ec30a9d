// The test's own "PcaSvc": the pca_service fixture registered with the private
// prefix's service control manager, stopped and deleted again when the object
// goes out of scope.
#pragma once

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
