// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's side of mailslots across the network: the setting that switches
// the transport off, and telling the user once why messages from other machines
// cannot be received.
#include <QString>
#include <functional>

class QObject;
class QWidget;

namespace pling::settings {
class TMegaRegistry;
}

namespace pling::app {

// The network's stored settings (settings::ApplyNetworkSettings): whether the
// transport is on, the WINS server, the announced comment, session messages.
// Read once, before the messenger mailslot first opens; the comment again when
// another program reports that it changed it (settings::FollowCommentSetting).
void ApplyNetworkSetting(const settings::TMegaRegistry& registry);
// Lets a write from the main thread that must first look a name up on the
// network keep the window painted and receiving meanwhile: the write waits in a
// nested event loop that leaves out user input (see platform::SetNetworkWait and
// docs/threads.md).
void InstallNetworkWait();

// Why messages from other machines cannot be received, for the window; empty when
// they can (or the transport is off).
QString NetworkProblemText();
// The status line's and the tray tip's few words for it (the whole text is the
// status line's tooltip).
inline const QString kNetworkProblemBrief = QStringLiteral("Receiving from this computer only");
inline const QString kNoSessionMessagesBrief = QStringLiteral("Not receiving session messages");
inline const QString kThroughSambaBrief =
    QStringLiteral("Receiving session messages through Samba");
// The status line's words while another program holds the ports, with every
// port that could not be taken ("Receiving from this computer only: UDP 137 and
// 138 in use"; only session messages missing while just the TCP port is
// refused); through Samba when its file server hands session messages on
// (pling-cli deliver).
QString NetworkProblemBrief();
// Those words once for each problem that is new since the last call (the first,
// or another reason): what a screen reader is told. Empty otherwise.
QString NewNetworkProblemBrief();
// The status line's words while receiving: the problem's, or that this
// computer's names are still being claimed; empty while all is well.
QString NetworkRestingStatus();

// The status line's and the tray tip's few words while this computer's names are
// still being claimed on the network (for about 0.75 s after receiving starts):
// other computers cannot reach it yet.
inline const QString kClaimingNamesBrief = QStringLiteral("Joining the network");
bool ClaimingNames();
// From now on `changed` runs on the main thread once other computers can reach
// this one (platform::SetReachableHandler), and each time receiving from them
// changes after that (platform::SetReceiveChangeHandler: the holder of the ports
// this process waited on ended, or one came), while `window` exists; a box of
// ReportNetworkProblem's still open then closes, its problem being over.
// `news` is kReceivingFromOthers when messages from other computers are received
// now after they could not be (a holder of the ports started after the window),
// else empty: the status line says it once.
inline const QString kReceivingFromOthers = QStringLiteral("Receiving from other computers");
void WatchReachable(QObject* window, std::function<void(const QString& news)> changed);

// Shows NetworkProblemText, if any, in a message box that does not block the
// window: once per process, however often the mailslot is opened again, and not
// at all when it is `shownBefore` (the text the user was shown at an earlier
// start; afterwards the status line and the tray tip say it). Returns the text
// the user has been shown last (`shownBefore` while nothing is wrong).
QString ReportNetworkProblem(QWidget* parent, const QString& shownBefore = QString());

// From now on, tells the user what the network says about this machine's names
// (another machine holds one, the WINS server refused one or does not answer):
// each in a message box like ReportNetworkProblem's (one box collects those that
// come while it is open) and, briefly, through `showStatus`. For as long as
// `parent` lives; a second call for the same parent does nothing.
void WatchNameNotices(QWidget* parent, std::function<void(const QString&)> showStatus);

// From now on `show` gets, on the main thread, the status-line text that says a
// computer's messages were dropped because it sent too many (once per address;
// see platform::SetNetworkNoticeHandler), while `window` exists.
void ShowDroppedSenders(QObject* window, std::function<void(const QString&)> show);

}  // namespace pling::app
