// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailslot/lxMailSlot.h"

#include <unistd.h>

#include <chrono>
#include <exception>
#include <thread>

#include "platform/codepage.h"
#include "platform/mailslot_service.h"
#include "platform/network.h"
#include "runtime/event_wait.h"
#include "runtime/main_thread.h"
#include "runtime/thread_name.h"

namespace pling::mailslot {

namespace ps = platform;

namespace {

std::atomic<int> GRunningThreads{0};

std::string BuildPath(const std::string& Machine, const std::string& SlotName) {
  return "\\\\" + Machine + "\\mailslot\\" + SlotName;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reader thread

TlxMailSlotWaitThread::TlxMailSlotWaitThread(TlxCustomMailSlot& MailSlot, HANDLE SlotHandle)
    : FMailSlot(&MailSlot), FSlotHandle(SlotHandle) {}

std::shared_ptr<TlxMailSlotWaitThread> TlxMailSlotWaitThread::Create(TlxCustomMailSlot& MailSlot) {
  // The stop event (a descriptor) comes first: if it cannot be had, no thread exists yet.
  auto thread = std::make_shared<TlxMailSlotWaitThread>(MailSlot, MailSlot.SlotHandle());
  // The body keeps its own reference: the thread frees itself when it ends.
  GRunningThreads.fetch_add(1);
  try {
    std::thread([self = thread] {
      try {
        self->Execute();
      } catch (...) {
        // Nothing may end the program from here; the endpoint stays open, unwatched.
      }
      GRunningThreads.fetch_sub(1);
    }).detach();
  } catch (...) {
    GRunningThreads.fetch_sub(1);
    throw;
  }
  return thread;
}

int TlxMailSlotWaitThread::RunningCount() {
  return GRunningThreads.load();
}

void TlxMailSlotWaitThread::Resume() {
  {
    std::lock_guard<std::mutex> guard(FGateLock);
    FResumed = true;
  }
  FGate.notify_one();
}

void TlxMailSlotWaitThread::Detach() {
  FMailSlot = nullptr;
  FSlotHandle.store(ps::INVALID_HANDLE_VALUE, std::memory_order_release);
  {
    std::lock_guard<std::mutex> guard(FGateLock);
    FTerminated.store(true, std::memory_order_release);
  }
  FGate.notify_one();
  FStop.Set();
}

void TlxMailSlotWaitThread::Execute() {
  runtime::SetThreadName("mailslot reader");
  {
    std::unique_lock<std::mutex> lock(FGateLock);
    FGate.wait(lock, [this] { return FResumed || Terminated(); });
  }
  if (Terminated()) return;
  // The thread keeps the ordinary priority. It sleeps in the kernel until a
  // message arrives, so idle it costs nothing whatever its priority; at the
  // lowest one a busy machine starved it, the mailslot filled up and writers
  // were refused while the main thread had time to spare.
  const auto idlePause = std::chrono::milliseconds(IdlePauseMs);
  const HANDLE handle = FSlotHandle.load(std::memory_order_acquire);
  const auto anyWaiting = [handle] {
    DWORD count = 0;
    return ps::GetMailslotInfo(handle, nullptr, nullptr, &count, nullptr) && count > 0;
  };
  // From here on this thread takes the datagrams into the mailslot's queue as they
  // come, while the main thread delivers what it was handed.
  ps::TMailslotWatch watch(handle);
  bool waiting = anyWaiting();  // what came before
  while (!Terminated()) {
    if (waiting) {
      // One delivery at a time: one on its way or under way takes these too.
      // It is handed on first, and the datagrams taken in while the main
      // thread wakes up for it.
      const bool posted = !FPosted.exchange(true);
      if (posted && !PostDelivery()) {
        // No main thread to deliver on: the messages stay waiting, and the
        // reader must not spin on them. It goes on taking what arrives, then
        // looks again.
        FPosted.store(false);
        const runtime::TDeadline pause(idlePause);
        while (!Terminated() && !pause.Passed() &&
               watch.WaitForArrival(FStop, pause.Remaining()) ==
                   ps::TMailslotWait::MessageWaiting) {
          watch.TakeArrivals();
        }
        waiting = !Terminated() && anyWaiting();
        continue;
      }
      if (watch.TakeArrivals() > 0) {
        // A delivery under way sees this, or one over already is followed by
        // another.
        FArrivals.fetch_add(1);
        if (!FPosted.exchange(true) && !PostDelivery()) FPosted.store(false);
      }
    }
    // Over when a datagram arrives or a stop is asked, however long that takes:
    // an idle reader never wakes. A mailslot that cannot be waited on gets a
    // plain pause, then a look.
    switch (watch.WaitForArrival(FStop, std::chrono::milliseconds::max())) {
      case ps::TMailslotWait::MessageWaiting:
        waiting = true;
        break;
      case ps::TMailslotWait::Failed:
        FStop.Wait(idlePause);
        waiting = !Terminated() && anyWaiting();
        break;
      default:
        waiting = false;
        break;
    }
  }
}

void TlxMailSlotWaitThread::HandOn() {
  if (Terminated()) return;
  if (!FPosted.exchange(true) && !PostDelivery()) FPosted.store(false);
}

bool TlxMailSlotWaitThread::PostDelivery() {
  const std::shared_ptr<runtime::IMainThread> mainThread = runtime::MainThread();
  if (!mainThread) return false;
  try {
    return mainThread->Post([self = shared_from_this()] { self->DeliverStep(); });
  } catch (const std::exception&) {
    return false;  // no memory for the call: a later look hands it on
  }
}

void TlxMailSlotWaitThread::DeliverStep() {
  // A delivery that reaches the main thread after Close, a reopen or the
  // endpoint's destruction does nothing.
  TlxCustomMailSlot* mailSlot = FMailSlot;
  if (mailSlot == nullptr || Terminated()) return;
  const HANDLE handle = FSlotHandle.load();
  // A reader whose endpoint no longer has its mailslot open has nothing left to
  // do. (Close and reopen detach it first; this only keeps a reader that was
  // missed somehow from watching a mailslot it may never deliver from.)
  if (!mailSlot->Active() || mailSlot->SlotHandle() != handle) {
    Detach();
    return;
  }
  const std::uint64_t arrivals = FArrivals.load();
  try {
    // Another delivery may already have taken what the reader saw: that is no error.
    mailSlot->DeliverMessages(BatchBudget);
  } catch (...) {
    runtime::HandleApplicationException(std::current_exception());
  }
  // A handler may have closed, reopened or destroyed the endpoint (which
  // detaches this reader).
  if (FMailSlot == nullptr || Terminated()) return;
  const bool tookAll = FMailSlot->FTookAll;
  FPosted.store(false);
  // Messages the budget left, or that came while the reader counted on this
  // delivery to take them: another one.
  if (tookAll && FArrivals.load() == arrivals) return;
  DWORD count = 0;
  if (ps::GetMailslotInfo(handle, nullptr, nullptr, &count, nullptr) && count > 0 &&
      !FPosted.exchange(true) && !PostDelivery()) {
    FPosted.store(false);
  }
}

// ---------------------------------------------------------------------------
// Endpoint

TlxCustomMailSlot::TlxCustomMailSlot(TComponent* AOwner) : TComponent(AOwner) {}

TlxCustomMailSlot::~TlxCustomMailSlot() {
  // Destruction fires no event, but the reader thread must let go of this
  // endpoint and the mailslot must not outlive it.
  StopWaitThread();
  if (FSlotHandle != ps::INVALID_HANDLE_VALUE) ps::CloseHandle(FSlotHandle);
}

std::string TlxCustomMailSlot::SlotPath() const {
  return BuildPath(FMachine, FSlotName);
}

void TlxCustomMailSlot::StartWaitThread() {
  if (!FActive || FSlotHandle == ps::INVALID_HANDLE_VALUE) return;
  if (FWaitThread != nullptr && !FWaitThread->Terminated()) return;
  std::string reason;
  try {
    FWaitThread = TlxMailSlotWaitThread::Create(*this);
    return;
  } catch (const std::exception& e) {
    reason = e.what();
  }
  // Open but unwatched, the mailslot would take messages that are never
  // delivered: close it, so its name is free and writers learn that nobody reads.
  ps::CloseHandle(FSlotHandle);
  FSlotHandle = ps::INVALID_HANDLE_VALUE;
  FActive = false;
  RaiseError("Cannot open mailslot: its reader thread could not be started (" + reason + ")");
}

void TlxCustomMailSlot::ResumeWaitThread() {
  if (FWaitThread != nullptr) FWaitThread->Resume();
}

void TlxCustomMailSlot::StopWaitThread() {
  if (FWaitThread != nullptr) {
    FWaitThread->Detach();
    FWaitThread.reset();
  }
}

void TlxCustomMailSlot::Open() {
  if (FActive) {
    Close();
    // An OnClose handler may have opened the mailslot again, with this name and
    // size: that open stands. Another one would only fail against it.
    if (FActive) return;
  }
  const std::string path = SlotPath();
  if (Designing()) {
    FActive = true;
    return;
  }
  const HANDLE handle =
      ps::CreateMailslot(path, static_cast<DWORD>(FMaxSize), ps::MAILSLOT_WAIT_FOREVER);
  if (handle == ps::INVALID_HANDLE_VALUE) {
    const DWORD error = ps::GetLastError();
    if (error == ps::ERROR_BAD_PATHNAME) RaiseError("Bad mailslot name");
    if (error == ps::ERROR_ALREADY_EXISTS) RaiseError("Mailslot allready exists");
    RaiseError("Cannot open mailslot");
  }
  FSlotHandle = handle;
  FActive = true;
  // The reader thread is made before OnOpen fires, so that an open that cannot be
  // watched fails with no event fired, and starts watching after it. It starts
  // even when a handler fails, so an open mailslot is always watched.
  StartWaitThread();
  try {
    DoOpen();
  } catch (...) {
    ResumeWaitThread();
    throw;
  }
  ResumeWaitThread();
}

void TlxCustomMailSlot::Close() {
  if (!FActive) return;
  StopWaitThread();
  if (FSlotHandle != ps::INVALID_HANDLE_VALUE) ps::CloseHandle(FSlotHandle);
  FSlotHandle = ps::INVALID_HANDLE_VALUE;
  FActive = false;
  ++FCloseCount;
  DoClose();
}

void TlxCustomMailSlot::UpdateInfo() {
  if (!FActive) RaiseError("Not active");
  if (!ps::GetMailslotInfo(FSlotHandle, nullptr, &FNextSize, &FMessageCount, nullptr)) {
    RaiseError("Error in GetMailSlotInfo");
  }
  // The look drained the socket into the queue, where the reader does not wait.
  if (FMessageCount > 0 && FWaitThread != nullptr) FWaitThread->HandOn();
}

void TlxCustomMailSlot::ReadMessage(std::string& Msg) {
  UpdateInfo();
  if (FMessageCount == 0) RaiseError("No messages waiting");
  Msg.assign(FNextSize, '\0');
  DWORD bytesRead = 0;
  const bool ok = ps::ReadFile(FSlotHandle, Msg.data(), FNextSize, &bytesRead);
  // A failed read is an error also when the announced message is empty.
  if (!ok || bytesRead != FNextSize) RaiseError("Error reading message");
}

void TlxCustomMailSlot::DeliverMessage() {
  std::string msg;
  ReadMessage(msg);
  DoMessage(msg);
}

std::size_t TlxCustomMailSlot::DeliverMessages(std::chrono::steady_clock::duration Budget) {
  if (!FActive) RaiseError("Not active");
  const auto deadline = std::chrono::steady_clock::now() + Budget;
  const std::weak_ptr<char> life = FLife;
  const std::uint64_t closes = FCloseCount;
  std::size_t delivered = 0;
  std::exception_ptr error;
  FTookAll = false;
  try {
    for (;;) {
      // One look at the mailslot a message, and one more at the end.
      std::string msg;
      if (!ps::TakeMailslotMessage(FSlotHandle, msg)) {
        if (ps::GetLastError() != ps::ERROR_SEM_TIMEOUT) RaiseError("Error reading message");
        FMessageCount = 0;
        FNextSize = ps::MAILSLOT_NO_MESSAGE;
        FTookAll = true;
        break;
      }
      // Counted before the handler runs: a message it was handed is delivered,
      // whatever the handler does then.
      ++delivered;
      DoMessage(msg);
      if (life.expired()) return delivered;  // a handler destroyed the endpoint
      if (!FActive || FCloseCount != closes) break;
      if (std::chrono::steady_clock::now() >= deadline) break;
    }
  } catch (...) {
    if (life.expired()) throw;
    error = std::current_exception();
  }
  // Each take drains the socket into the queue once that is empty: what the
  // budget left there must be handed on, or it waits for the next datagram.
  // (Within the reader's own delivery one is under way, and it hands on itself.)
  if (!FTookAll && FActive && FCloseCount == closes && FWaitThread != nullptr) {
    FWaitThread->HandOn();
  }
  if (delivered > 0) {
    try {
      DoBatchEnd();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) std::rethrow_exception(error);
  return delivered;
}

void TlxCustomMailSlot::SetActive(bool Value) {
  if (Reading()) {
    FStreamedActive = Value;
  } else if (Value) {
    Open();
  } else {
    Close();
  }
}

void TlxCustomMailSlot::SetMaxSize(std::int32_t Value) {
  if (Value == FMaxSize) return;
  FMaxSize = Value;
  if (FActive) Open();
}

void TlxCustomMailSlot::SetSlotName(const std::string& Value) {
  if (Value == FSlotName) return;
  FSlotNameSet = true;
  FSlotName = Value;
  if (FActive) Open();
}

void TlxCustomMailSlot::Loaded() {
  TComponent::Loaded();
  SetActive(FStreamedActive);
}

void TlxCustomMailSlot::OnNameChanged(const std::string& oldName) {
  TComponent::OnNameChanged(oldName);
  if (!FSlotNameSet) FSlotName = Name();
}

void TlxCustomMailSlot::DoOpen() {
  if (OnOpen) OnOpen(*this);
}

void TlxCustomMailSlot::DoClose() {
  if (OnClose) OnClose(*this);
}

void TlxCustomMailSlot::DoMessage(std::string& Msg) {
  if (OnRawMessage) OnRawMessage(*this, Msg);
}

void TlxCustomMailSlot::DoBatchEnd() {
  if (OnBatchEnd) OnBatchEnd(*this);
}

void TlxCustomMailSlot::RaiseError(const std::string& Msg) {
  throw ElxMailSlot(Msg);
}

// ---------------------------------------------------------------------------
// Writer

HANDLE OpenMailSlotForWriting(const std::string& Machine, const std::string& SlotName) {
  return ps::CreateFile(BuildPath(Machine, SlotName), ps::GENERIC_WRITE, ps::FILE_SHARE_READ,
                        ps::OPEN_EXISTING, ps::FILE_ATTRIBUTE_NORMAL);
}

runtime::TResult<ps::TWriteDelivery> DeliverToMailSlot(const std::string& Machine,
                                                       const std::string& SlotName,
                                                       std::string_view Data) {
  const auto failure = [](const runtime::TError& error) {
    return runtime::TError{error.code, WriteFailureText(error.code)};
  };
  runtime::TResult<ps::TWriteDelivery> written =
      ps::WriteMailslotMessage(BuildPath(Machine, SlotName), Data);
  if (!written) return failure(written.Error());
  return written;
}

bool WriteMailSlot(const std::string& Machine, const std::string& SlotName,
                   const std::string& Data) {
  const runtime::TResult<ps::TWriteDelivery> written = DeliverToMailSlot(Machine, SlotName, Data);
  if (!written) ps::SetLastError(written.Error().code);
  return written.HasValue();
}

// ---------------------------------------------------------------------------
// Messenger

net::TMessengerMessage DecodeMessengerDatagram(std::string_view Datagram) {
  net::TMessengerMessage result;
  std::string* fields[] = {&result.sender, &result.receiver, &result.text};
  std::size_t pos = 0;
  for (std::string* field : fields) {
    if (pos > Datagram.size()) break;
    const std::size_t end = std::min(Datagram.find('\0', pos), Datagram.size());
    field->assign(Datagram.substr(pos, end - pos));
    pos = end + 1;
  }
  return result;
}

std::string EncodeMessengerDatagram(std::string_view Sender, std::string_view Reciever,
                                    std::string_view Text) {
  std::string datagram;
  datagram.reserve(Sender.size() + Reciever.size() + Text.size() + 2);
  datagram.append(Sender);
  datagram.push_back('\0');
  datagram.append(Reciever);
  datagram.push_back('\0');
  datagram.append(Text);
  return datagram;
}

TlxCustomPling::TlxCustomPling(TComponent* AOwner) : TlxCustomMailSlot(AOwner) {
  SetSlotName(MessengerSlotName);
}

void TlxCustomPling::DoMessage(std::string& Msg) {
  if (!OnMessage) return;
  net::TMessengerMessage fields = DecodeMessengerDatagram(Msg);
  ps::OemToChar(fields.sender);
  ps::OemToChar(fields.receiver);
  ps::OemToChar(fields.text);
  OnMessage(*this, std::move(fields.receiver), std::move(fields.sender), std::move(fields.text));
}

bool TlxCustomPling::Send(std::string AMachine, std::string ASender, std::string AReciever,
                          std::string AMsg) {
  return WriteMessengerMessage(std::move(AMachine), std::move(ASender), std::move(AReciever),
                               std::move(AMsg));
}

runtime::TResult<platform::TWriteDelivery> TlxCustomPling::Deliver(std::string AMachine,
                                                                   std::string ASender,
                                                                   std::string AReciever,
                                                                   std::string AMsg) {
  return DeliverMessengerMessage(std::move(AMachine), std::move(ASender), std::move(AReciever),
                                 std::move(AMsg));
}

runtime::TResult<platform::TWriteDelivery> DeliverMessengerMessage(std::string AMachine,
                                                                   std::string ASender,
                                                                   std::string AReciever,
                                                                   std::string AMsg) {
  // A 0x00 inside a name would shift the fields at every receiver.
  if (ASender.find('\0') != std::string::npos || AReciever.find('\0') != std::string::npos) {
    return runtime::TError{ps::ERROR_INVALID_PARAMETER, "a name holds a zero byte"};
  }
  ps::CharToOem(AMachine);
  ps::CharToOem(ASender);
  ps::CharToOem(AReciever);
  ps::CharToOem(AMsg);
  return DeliverToMailSlot(AMachine, MessengerSlotName,
                           EncodeMessengerDatagram(ASender, AReciever, AMsg));
}

bool WriteMessengerMessage(std::string AMachine, std::string ASender, std::string AReciever,
                           std::string AMsg) {
  const runtime::TResult<platform::TWriteDelivery> sent = DeliverMessengerMessage(
      std::move(AMachine), std::move(ASender), std::move(AReciever), std::move(AMsg));
  if (!sent) ps::SetLastError(sent.Error().code);
  return sent.HasValue();
}

std::string WriteFailureText(DWORD code) {
  switch (code) {
    case ps::ERROR_FILE_NOT_FOUND:
      return "nobody is listening there";
    case ps::ERROR_BAD_NETPATH:
      return ps::NetworkEnabled() ? "no machine of that name answers on the network"
                                  : "the network is switched off (PLING_NETWORK)";
    case ps::ERROR_BAD_PATHNAME:
      return "not a valid machine name";
    case ps::ERROR_REQ_NOT_ACCEP:
      return "the machine refused the message";
    case ps::ERROR_INVALID_PARAMETER:
      return "message too long for the mailslot";
    default:
      return {};
  }
}

}  // namespace pling::mailslot
