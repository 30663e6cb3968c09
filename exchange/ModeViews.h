// SPDX-License-Identifier: MIT
#pragma once
// What each operation that sets the program's language does to the window:
// the mode, the three mode labels, the three captions and the enabled state
// of the ten device buttons (and the two table buttons), each "Keep" where
// the operation leaves a control alone. One row per operation, so the
// differences between operations that reach the same mode stand side by
// side. Plain data; the window applies a row with frmMain::applyView.

enum class ModeView {
    Load,          // start-up
    Init,          // cmdInit opened the port
    PortClosed,    // the port would not open, or the line was lost
    ScpiButton,    // cmdSCPI sent "@@@"
    LinkOpen,      // cmdSet: the link opened
    Disconnect,    // cmdDisconnect sent DLE ENQ
    XonXoffButton, // cmdXonXoff
    SwitchX328,    // an SCPI command containing "X3.28"
    SwitchXonXoff, // an SCPI command containing "XonXoff"
    Escape,        // "@@@" typed as a device command in X3.28 or Xon/Xoff mode
    LinkTried,     // cmdSet, whatever its link opening did: Disconnect enabled
};

enum class Tri : signed char { Keep = -1, Off = 0, On = 1 };

// The buttons a view row sets, in the order of ViewRow::buttons.
inline constexpr const char *kViewButtons[] = {"cmdSet",  "cmdDisconnect", "cmdSCPI",   "cmdXonXoff",
                                               "cmdSend", "cmdQuery",      "cmdQtst",   "cmdQtstOff",
                                               "cmdCmdtst", "cmdCmdtstoff", "cmdLdCmdTable", "cmdRdCmdTable"};
inline constexpr int kViewButtonCount = int(sizeof kViewButtons / sizeof kViewButtons[0]);

struct ViewRow
{
    const char *mode;  // cmdMode afterwards; nullptr: unchanged
    Tri lblSCPI, lblX328, lblXOnXoff;
    Tri buttons[kViewButtonCount];
    bool focusEntry;   // combCmd receives the focus and its text is cleared
    const char *cmdLbl, *frmDevCmd, *frmDevResp; // captions; nullptr: unchanged
};

// clang-format off
namespace ModeViewText {
inline constexpr const char *ScpiHint = "Enter SCPI and Modbus commands";
inline constexpr const char *ScpiFrame = "Device Commands and Queries";
inline constexpr const char *NoQuery = "Query not active in SCPI mode";
inline constexpr const char *X328Frame = "X3.28 Device Commands";
inline constexpr const char *XonHint = "Enter Xon/Xoff command-space-data i.e. SP1 100";
inline constexpr const char *XonFrame = "Xon/Xoff Device Commands";
inline constexpr const char *XonQuery = "Xon/Xoff Query Only";
} // namespace ModeViewText

inline const ViewRow &viewRow(ModeView view)
{
    using namespace ModeViewText;
    using enum Tri;
    //                                      labels          Set   Disc  SCPI  XonX  Send  Qry   Qtst  QOff  Ctst  COff  Ld    Rd     focus
    static const ViewRow load          {"SCPI",    On,  Off, Off,  {Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off}, false,
                                        ScpiHint, ScpiFrame, nullptr};
    static const ViewRow init          {"SCPI",    On,  Off, Off,  {On,   On,   On,   On,   On,   Keep, On,   Off,  On,   Off,  On,   On},  true,
                                        ScpiHint, ScpiFrame, NoQuery};
    static const ViewRow portClosed    {"SCPI",    On,  Off, Off,  {Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off,  Off}, false,
                                        ScpiHint, ScpiFrame, "X3.28 Query Only"};
    static const ViewRow scpiButton    {"SCPI",    On,  Off, Off,  {Keep, Off,  Keep, Keep, On,   Off,  On,   Off,  On,   Off,  On,   On},  true,
                                        ScpiHint, ScpiFrame, NoQuery};
    static const ViewRow linkOpen      {"X3.28",   Off, On,  Keep, {Keep, On,   Keep, Keep, On,   On,   On,   Off,  On,   Off,  Off,  Off}, true,
                                        "Enter X3.28 parameter <space> value i.e. SP1 100", X328Frame, nullptr};
    static const ViewRow disconnect    {"X3.28",   Off, On,  Keep, {Keep, Off,  Keep, Keep, Keep, Keep, Keep, Keep, Keep, Keep, Off,  Off}, false,
                                        "Enter X3.28 parameter <space> value", X328Frame, nullptr};
    static const ViewRow xonXoffButton {"XonXoff", Off, Keep, On,  {Off,  Off,  Keep, Keep, On,   On,   On,   Off,  On,   Off,  Off,  Off}, true,
                                        XonHint, XonFrame, XonQuery};
    static const ViewRow switchX328    {"X3.28",   Off, On,  Keep, {On,   On,   Keep, Keep, On,   On,   Keep, Keep, Keep, Keep, Keep, Keep}, false,
                                        "Enter X3.28 command-space-data i.e. SP1 100", X328Frame, nullptr};
    static const ViewRow switchXonXoff {"XonXoff", Off, Keep, On,  {Off,  Off,  Keep, Keep, On,   On,   On,   Off,  On,   Off,  Keep, Keep}, true,
                                        XonHint, XonFrame, XonQuery};
    static const ViewRow escape        {"SCPI",    On,  Off, Off,  {Off,  Off,  Keep, Off,  On,   Off,  On,   Off,  On,   Off,  Keep, Keep}, false,
                                        ScpiHint, ScpiFrame, NoQuery};
    static const ViewRow linkTried     {nullptr,   Keep, Keep, Keep, {Keep, On,  Keep, Keep, Keep, Keep, Keep, Keep, Keep, Keep, Keep, Keep}, false,
                                        nullptr, nullptr, nullptr};
    switch (view) {
    case ModeView::Load: return load;
    case ModeView::Init: return init;
    case ModeView::PortClosed: return portClosed;
    case ModeView::ScpiButton: return scpiButton;
    case ModeView::LinkOpen: return linkOpen;
    case ModeView::Disconnect: return disconnect;
    case ModeView::XonXoffButton: return xonXoffButton;
    case ModeView::SwitchX328: return switchX328;
    case ModeView::SwitchXonXoff: return switchXonXoff;
    case ModeView::Escape: return escape;
    case ModeView::LinkTried: return linkTried;
    }
    return load;
}
// clang-format on
