// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mailslot service: named, machine-wide, message-preserving queues.
//
// A mailslot path is "\\MACHINE\mailslot\NAME" ("mailslot" in any case). Only the
// process that created a mailslot reads it; anybody may write to it. Mailslot names
// are in the ANSI code page and case-insensitive in it ("gr\xE4n" and "GR\xC4N"
// name one mailslot). Every write arrives as one whole message; messages are read one
// at a time, in arrival order; the number of waiting messages and the size of the
// next one can be asked for without blocking. Zero-length messages are allowed.
//
// On Linux an open mailslot is a Unix datagram socket in the abstract namespace,
// named from the slot name upper-cased in the ANSI page, so a second create of the same name by any
// process fails with ERROR_ALREADY_EXISTS and nothing is left behind when a process
// dies. The service keeps its own queue per handle.
//
// The writer's side gives its outcome as a value (OpenMailslotWriter,
// WriteToMailslot); CreateFile and WriteFile are the Win32-shaped calls on top of
// them. Every Win32-shaped function sets the calling thread's last error
// (GetLastError) on failure.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/types.h"
#include "runtime/event.h"
#include "runtime/result.h"

namespace pling::platform {

inline constexpr DWORD MAILSLOT_WAIT_FOREVER = 0xFFFFFFFF;
inline constexpr DWORD MAILSLOT_NO_MESSAGE = 0xFFFFFFFF;

inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Creates the mailslot "\\.\mailslot\NAME". A path of another form, or a name with
// characters a mailslot name cannot hold, fails with ERROR_BAD_PATHNAME; a name
// that any process on this machine already holds fails with ERROR_ALREADY_EXISTS.
// maxMessageSize 0 means any size; a longer message is never delivered to it.
// readTimeout (ms, or MAILSLOT_WAIT_FOREVER) bounds how long ReadFile waits.
HANDLE CreateMailslot(std::string_view path, DWORD maxMessageSize, DWORD readTimeout);

// Any of the out pointers may be null. nextSize is MAILSLOT_NO_MESSAGE when no
// message waits. messageCount is exact: every message that ReadFile would now
// return, also those the system still holds back for a full mailslot. Never
// blocks.
bool GetMailslotInfo(HANDLE mailslot, DWORD* maxMessageSize, DWORD* nextSize, DWORD* messageCount,
                     DWORD* readTimeout);

// Takes the next whole message out of the mailslot into `message` (its buffer
// handed over, not copied), without waiting: false when none waits
// (ERROR_SEM_TIMEOUT) or the handle is no open mailslot. Unlike GetMailslotInfo
// and ReadFile, it looks at the system's queue only when no message is queued
// already.
bool TakeMailslotMessage(HANDLE mailslot, std::string& message);

// Reads exactly one whole message. A buffer smaller than the next message fails
// with ERROR_INSUFFICIENT_BUFFER and leaves the message waiting. With no message
// waiting, waits up to the mailslot's read time-out, then fails with
// ERROR_SEM_TIMEOUT.
bool ReadFile(HANDLE mailslot, void* buffer, DWORD bytesToRead, DWORD* bytesRead);

// How a write went: into a mailslot on this machine; as a datagram to the
// machines of a workgroup; as a datagram to one machine, sent but not confirmed;
// as a session message to one machine that did not confirm it; or as a message
// that machine confirmed it took (a session message, see platform/network.h). A
// write the machine refused fails with ERROR_REQ_NOT_ACCEP.
enum class TWriteDelivery { Local, Workgroup, Datagram, Unconfirmed, Confirmed };
// Whether a write to one machine went without that machine confirming it.
constexpr bool NotConfirmed(TWriteDelivery delivery) {
  return delivery == TWriteDelivery::Datagram || delivery == TWriteDelivery::Unconfirmed;
}

// Opens a mailslot for writing: the handle, or the error code (the result's text
// is empty). The machine part is a network name and, as such names travel, in the
// OEM code page (the messenger converts it before it writes); the mailslot name
// is in the ANSI page, as for CreateMailslot. Machine "." or this computer's name
// (in any case) means this machine: the mailslot must exist (else
// ERROR_FILE_NOT_FOUND). Other machine parts go to the network transport (the one
// installed with SetMailslotTransport, else the built-in NetBIOS one of
// platform/network.h), and fail with ERROR_BAD_NETPATH while it is switched off.
// Through it, a write to a name nobody answers for fails with ERROR_BAD_NETPATH
// and one of more than 424 bytes with ERROR_INVALID_PARAMETER.
runtime::TResult<HANDLE> OpenMailslotWriter(std::string_view path);
// Writes one message through a handle of OpenMailslotWriter: how it went, or the
// error code. Fails (and writes nothing) when the receiving mailslot's size limit
// is known and exceeded, or when the message cannot be taken whole.
runtime::TResult<TWriteDelivery> WriteToMailslot(HANDLE file, std::string_view data);

// One message to the mailslot at `path`: OpenMailslotWriter, WriteToMailslot and
// CloseHandle in one, with their outcomes. The socket of a write to a mailslot on
// this machine is kept for the next write there (the last few mailslots); once
// that mailslot is closed, the next write goes to whoever holds its name then,
// else fails with ERROR_FILE_NOT_FOUND as an open would.
runtime::TResult<TWriteDelivery> WriteMailslotMessage(std::string_view path, std::string_view data);

// OpenMailslotWriter, for GENERIC_WRITE and OPEN_EXISTING only.
HANDLE CreateFile(std::string_view path, DWORD desiredAccess, DWORD shareMode,
                  DWORD creationDisposition, DWORD flagsAndAttributes);
// WriteToMailslot.
bool WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);

bool CloseHandle(HANDLE handle);

// Waits until a message is waiting in the mailslot, `stop` is set, or the time-out
// passes. Costs no CPU while it waits.
enum class TMailslotWait { MessageWaiting, Stopped, TimedOut, Failed };
TMailslotWait WaitForMailslot(HANDLE mailslot, const runtime::TEvent& stop,
                              std::chrono::milliseconds timeout);

// The watch of one mailslot by the thread that hands its messages on. While it
// lasts, that thread takes the datagrams into the mailslot's queue itself as
// they arrive (the service's drain thread leaves the mailslot to it), and waits
// for new ones only: the messages waiting already are its to hand on, or handed
// on. Made, used and destroyed on one thread.
class TMailslotWatch {
 public:
  // A handle that is no open mailslot makes a watch whose waits fail.
  explicit TMailslotWatch(HANDLE mailslot);
  ~TMailslotWatch();
  TMailslotWatch(const TMailslotWatch&) = delete;
  TMailslotWatch& operator=(const TMailslotWatch&) = delete;

  // Waits until a datagram waits in the mailslot's socket (MessageWaiting: take
  // it with TakeArrivals), `stop` is set or the time-out passes; Failed once the
  // mailslot is closed. Costs no CPU while it waits (while the queue is full,
  // when nothing can be taken in, it looks every few milliseconds whether there
  // is room again).
  TMailslotWait WaitForArrival(const runtime::TEvent& stop, std::chrono::milliseconds timeout);
  // Takes what waits in the socket into the queue; how many messages it queued.
  std::size_t TakeArrivals();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// A network transport that writes to other machines' mailslots, in place of the
// built-in one (tests install fakes).
class IMailslotTransport {
 public:
  virtual ~IMailslotTransport() = default;
  // Sends `data` to the mailslot `slotName` (ANSI code page) on `machine` (OEM
  // code page, as given to CreateFile): how it went (a datagram is Datagram, also
  // to a workgroup, which the service tells apart by the name), or the error code
  // when it could not be sent whole.
  virtual runtime::TResult<TWriteDelivery> Write(std::string_view machine,
                                                 std::string_view slotName,
                                                 std::string_view data) = 0;
};
void SetMailslotTransport(std::shared_ptr<IMailslotTransport> transport);

}  // namespace pling::platform
