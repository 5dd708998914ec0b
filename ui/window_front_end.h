#pragma once
// The controller's view of the window. The verification worker calls
// ShowMessage and PostFrontEndMessage too, and the port mapping's workers
// send their notices here, so those only queue a call to the window's
// thread; the rest come from that thread already.
#include "app/controller_front_end.h"
#include "app/port_mapping.h"

class CpvhQuarrowlightUIDlg;

class CWindowFrontEnd : public IControllerFrontEnd, public IPortMappingSink {
public:
    // Before a window is attached, messages go to standard error.
    void Attach(CpvhQuarrowlightUIDlg *target) { window = target; }
    void Detach(CpvhQuarrowlightUIDlg *target)
    {
        if (window == target)
            window = nullptr;
    }

    void ShowMessage(const std::string &text, const std::string &caption) override;
    void ShowModalMessage(const std::string &text, const std::string &caption) override;
    bool AskYesNo(const std::string &text, const std::string &caption) override;
    void PostFrontEndMessage(uint32_t message) override;
    void DestroyMainWindow() override;
    // The controller hears each notice on the window's thread, in the order
    // the workers sent them.
    void OnPortMappingNotice(uint32_t step, int32_t status) override;

private:
    CpvhQuarrowlightUIDlg *window = nullptr;
};
