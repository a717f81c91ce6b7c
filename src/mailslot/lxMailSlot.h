// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Mailslot endpoint, its reader thread, the writer functions and the messenger
// component.
//
// An endpoint owns one mailslot on this machine. While it is open, a reader
// thread watches the mailslot and has the main thread take out the waiting
// datagrams in batches: each one goes to DoMessage, in arrival order, and a
// batch ends with DoBatchEnd. Everything but the watching runs on the main
// thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/messenger_message.h"
#include "platform/mailslot_service.h"
#include "platform/types.h"
#include "runtime/component.h"
#include "runtime/event.h"
#include "runtime/exceptions.h"
#include "runtime/result.h"

namespace pling::mailslot {

using platform::DWORD;
using platform::HANDLE;
using runtime::TComponent;

// The exception of the mailslot and messenger components.
class ElxMailSlot : public runtime::Exception {
 public:
  using Exception::Exception;
};

using TNotifyEvent = std::function<void(TComponent& Sender)>;
using TRawMessageEvent = std::function<void(TComponent& Sender, const std::string& Msg)>;

class TlxCustomMailSlot;

// The reader thread of one open endpoint. It takes the datagrams into the
// mailslot's queue as they arrive (TMailslotWatch) and hands the main thread a
// delivery of what waits (a posted call: DeliverMessages, one batch of at most
// BatchBudget), one at a time: while one is on its way, the arrivals are its
// to take, and a delivery that leaves messages waiting hands on the next. The
// reader never waits for the main thread, so a busy window holds no writer
// back; it sleeps until a message arrives or a stop is asked, so an idle reader
// costs nothing.
//
// The thread is created suspended, so that everything it needs exists before
// the endpoint announces itself open, and starts watching on Resume.
//
// The thread owns itself and is freed when its body returns. The endpoint only
// asks it to stop (Detach): from then on the thread touches neither the endpoint
// nor its mailslot, and a delivery still on its way to the main thread does
// nothing.
class TlxMailSlotWaitThread : public std::enable_shared_from_this<TlxMailSlotWaitThread> {
 public:
  // Creates a suspended thread for the open endpoint.
  // Raises std::system_error (no descriptor or no thread to be had) or
  // std::bad_alloc, and then leaves nothing behind.
  static std::shared_ptr<TlxMailSlotWaitThread> Create(TlxCustomMailSlot& MailSlot);

  // Lets the thread start watching. Main thread; a second call does nothing.
  void Resume();
  // Sets the terminate flag and cuts the thread off from its endpoint. Main
  // thread; also ends a thread that was never resumed.
  void Detach();
  // Hands the main thread a delivery unless one is on its way or under way.
  // For messages that a look from the main thread took out of the socket into
  // the queue: the reader waits for the socket only and would never see them.
  void HandOn();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

  // Reader threads whose body has not yet returned, in this process.
  static int RunningCount();
  // The pause before the reader looks again at messages it could not hand to the
  // main thread, or at a mailslot it cannot wait on. An idle mailslot is not
  // polled: the reader sleeps until a message arrives or it is stopped.
  static constexpr int IdlePauseMs = 1000;
  // How long one pass on the main thread takes datagrams out (about one frame):
  // a flood is shown in batches, and painting and input go on between them.
  static constexpr std::chrono::milliseconds BatchBudget{16};

  TlxMailSlotWaitThread(TlxCustomMailSlot& MailSlot, HANDLE SlotHandle);
  TlxMailSlotWaitThread(const TlxMailSlotWaitThread&) = delete;
  TlxMailSlotWaitThread& operator=(const TlxMailSlotWaitThread&) = delete;

 private:
  void Execute();
  bool PostDelivery();  // hands the main thread a DeliverStep; false when none takes it
  void DeliverStep();   // runs on the main thread

  TlxCustomMailSlot* FMailSlot;  // main thread only; null once detached
  std::atomic<HANDLE> FSlotHandle;
  std::atomic<bool> FTerminated{false};
  runtime::TEvent FStop;
  std::atomic<bool> FPosted{false};         // a delivery is on its way or under way
  std::atomic<std::uint64_t> FArrivals{0};  // times the reader found messages waiting
  std::mutex FGateLock;
  std::condition_variable FGate;
  bool FResumed = false;  // guarded by FGateLock
};

// The mailslot endpoint.
class TlxCustomMailSlot : public TComponent {
 public:
  explicit TlxCustomMailSlot(TComponent* AOwner);
  ~TlxCustomMailSlot() override;
  const char* ClassName() const override { return "TlxCustomMailSlot"; }

  // Opens (or reopens) the mailslot and starts the reader thread. A reopen first
  // closes; if an OnClose handler opens the mailslot again meanwhile, that open
  // stands and this one does nothing more. Raises ElxMailSlot when the mailslot
  // cannot be opened or cannot be watched; the endpoint is then closed and the
  // name free.
  virtual void Open();
  // Stops the reader thread, closes the mailslot, fires OnClose. Nothing if closed.
  virtual void Close();
  // Refreshes MessageCount and NextSize from the open mailslot. What the look
  // finds is delivered (by the reader's hand-over) unless the caller takes it.
  void UpdateInfo();
  // Takes the next datagram out of the mailslot.
  virtual void ReadMessage(std::string& Msg);
  // Reads one datagram and passes it to DoMessage.
  void DeliverMessage();
  // Delivers what waits as one batch: reads datagram after datagram and passes
  // each to DoMessage, in arrival order, until none waits or Budget has passed
  // (one at least, when any waits); then DoBatchEnd, once, if any was delivered.
  // The batch stops early when a handler closes (or reopens) the endpoint, and
  // still ends for what was delivered; when a handler destroys the endpoint,
  // nothing more runs. An error (a handler's or a failed read) ends the batch
  // too, and is raised after DoBatchEnd. Returns how many were delivered. The
  // messages are taken out directly (TakeMailslotMessage), not by ReadMessage.
  // What the budget left waiting is delivered by the reader's next hand-over.
  std::size_t DeliverMessages(std::chrono::steady_clock::duration Budget);

  bool Active() const { return FActive; }
  void SetActive(bool Value);
  std::int32_t MaxSize() const { return FMaxSize; }
  void SetMaxSize(std::int32_t Value);
  const std::string& SlotName() const { return FSlotName; }
  const std::string& Machine() const { return FMachine; }
  HANDLE SlotHandle() const { return FSlotHandle; }
  DWORD MessageCount() const { return FMessageCount; }
  DWORD NextSize() const { return FNextSize; }
  bool SlotNameSet() const { return FSlotNameSet; }
  // "\\" + Machine + "\mailslot\" + SlotName
  std::string SlotPath() const;

  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TRawMessageEvent OnRawMessage;
  // After the last message of a batch (see DeliverMessages): the point where a
  // handler that collects messages shows them, once per batch.
  TNotifyEvent OnBatchEnd;

 protected:
  virtual void DoOpen();
  virtual void DoClose();
  virtual void DoMessage(std::string& Msg);
  virtual void DoBatchEnd();
  // Raises ElxMailSlot with Msg. An override must raise too: callers rely on
  // it not returning.
  [[noreturn]] virtual void RaiseError(const std::string& Msg);
  void SetSlotName(const std::string& Value);

  void Loaded() override;
  void OnNameChanged(const std::string& oldName) override;

 private:
  void StartWaitThread();
  void ResumeWaitThread();
  void StopWaitThread();

  bool FStreamedActive = false;
  bool FActive = false;
  HANDLE FSlotHandle = platform::INVALID_HANDLE_VALUE;
  std::int32_t FMaxSize = 0;
  std::string FMachine = ".";
  std::string FSlotName = "lxMailSlot1";
  DWORD FMessageCount = 0;
  DWORD FNextSize = 0;
  bool FSlotNameSet = false;
  std::uint64_t FCloseCount = 0;  // Closes so far: a batch stops when it changes
  bool FTookAll = false;          // the last batch ended because no message was left
  friend class TlxMailSlotWaitThread;
  // Expires with the endpoint, so that a batch notices a handler that destroyed it.
  std::shared_ptr<char> FLife = std::make_shared<char>();
  std::shared_ptr<TlxMailSlotWaitThread> FWaitThread;
};

// Opens the mailslot SlotName on Machine for writing; INVALID_HANDLE_VALUE when
// the system refuses. Machine is a network name in the OEM code page, as Send
// passes it; SlotName is in the ANSI code page.
HANDLE OpenMailSlotForWriting(const std::string& Machine, const std::string& SlotName);
// Writes Data as one datagram to the mailslot SlotName on Machine: how it went,
// or why it could not be taken whole (the error code and WriteFailureText's text
// for it). Raises nothing.
runtime::TResult<platform::TWriteDelivery> DeliverToMailSlot(const std::string& Machine,
                                                             const std::string& SlotName,
                                                             std::string_view Data);
// DeliverToMailSlot, true when the whole datagram was taken; on failure the
// calling thread's last error is its code.
bool WriteMailSlot(const std::string& Machine, const std::string& SlotName,
                   const std::string& Data);

// The messenger datagram: sender, 0x00, receiver, 0x00, text (OEM code page).
// Splits a received datagram; missing fields are empty, anything after the
// third field's 0x00 is ignored. Never reads past the datagram.
net::TMessengerMessage DecodeMessengerDatagram(std::string_view Datagram);
// Joins the three fields; no 0x00 after the text.
std::string EncodeMessengerDatagram(std::string_view Sender, std::string_view Reciever,
                                    std::string_view Text);

inline constexpr const char* MessengerSlotName = "messngr";

// Why a message could not be written, for an error code of the writer ("" when
// the code says nothing more than that it failed).
std::string WriteFailureText(DWORD code);

// What TlxCustomPling::Deliver and Send do, from any thread: they touch no
// component. A name that holds a zero byte is refused (ERROR_INVALID_PARAMETER,
// "a name holds a zero byte") and nothing is written.
runtime::TResult<platform::TWriteDelivery> DeliverMessengerMessage(std::string AMachine,
                                                                   std::string ASender,
                                                                   std::string AReciever,
                                                                   std::string AMsg);
// DeliverMessengerMessage, true when it was written; on failure the calling
// thread's last error is its code.
bool WriteMessengerMessage(std::string AMachine, std::string ASender, std::string AReciever,
                           std::string AMsg);

// One message of TlxCustomPling::DeliverTogether: the machine it is written to
// and the message.
struct TOutgoingMessage {
  std::string machine;
  net::TMessengerMessage message;
};

using TplMessage = std::function<void(TComponent& Sender, std::string AReciever,
                                      std::string ASender, std::string AMsg)>;

// The messenger component: an endpoint fixed to the mailslot "messngr" that
// decodes each datagram and fires OnMessage (and OnBatchEnd after each batch),
// and sends messages.
class TlxCustomPling : public TlxCustomMailSlot {
 public:
  explicit TlxCustomPling(TComponent* AOwner);
  const char* ClassName() const override { return "TlxCustomPling"; }

  // Sends one message to the messenger mailslot of AMachine: how the message
  // went, or why it did not (the error code and WriteFailureText's text for it,
  // or the refusal of a name with a zero byte). Works whether or not the
  // component is active.
  runtime::TResult<platform::TWriteDelivery> Deliver(std::string AMachine, std::string ASender,
                                                     std::string AReciever, std::string AMsg);
  // Deliver, true when the whole datagram was written; on failure the calling
  // thread's last error is its code.
  bool Send(std::string AMachine, std::string ASender, std::string AReciever, std::string AMsg);
  // Deliver for each message, the machines written to at once, each on a thread
  // of its own (at most kMaxWritesTogether at a time): a send to several machines
  // takes about as long as the slowest of them, not as long as all together. The
  // messages to one machine go one after another in their order, so that they
  // arrive as given. The outcomes come in the messages' order. The calling thread waits as for one
  // write: a window that installed a network wait is served meanwhile (see
  // platform::SetNetworkWait). One message is simply Deliver'ed.
  std::vector<runtime::TResult<platform::TWriteDelivery>> DeliverTogether(
      std::vector<TOutgoingMessage> Messages);
  static constexpr std::size_t kMaxWritesTogether = 32;

  TplMessage OnMessage;

 protected:
  void DoMessage(std::string& Msg) override;
};

class TlxPling : public TlxCustomPling {
 public:
  using TlxCustomPling::TlxCustomPling;
  const char* ClassName() const override { return "TlxPling"; }
};

}  // namespace pling::mailslot
