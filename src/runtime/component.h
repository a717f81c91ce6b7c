// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The component model the core components are built on: an owner that frees its
// components, a name, a free integer tag, the loading and designing states, an
// after-load step, and the removal notice an owner sends to its components.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pling::runtime {

enum class TOperation { opInsert, opRemove };

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Creates a component owned by this one; it is freed with its owner, or earlier
  // with FreeComponent.
  template <class T, class... Args>
  T& CreateComponent(Args&&... args) {
    auto component = std::make_unique<T>(this, std::forward<Args>(args)...);
    T& result = *component;
    AdoptComponent(std::move(component));
    return result;
  }
  // Frees an owned component now (its removal notice goes to the owner's components).
  void FreeComponent(TComponent& component);

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& value);
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t value) { FTag = value; }
  virtual const char* ClassName() const { return "TComponent"; }

  std::size_t ComponentCount() const { return FComponents.size(); }
  TComponent& Components(std::size_t index) const { return *FComponents.at(index); }

  // Component state: csReading while stored properties are read from a form's
  // description, csLoading until its after-load step has run, csDesigning in a
  // form designer, csDestroying during destruction.
  enum TState : unsigned { csReading = 1, csLoading = 2, csDesigning = 4, csDestroying = 8 };
  bool InState(TState state) const { return (FState & state) != 0; }
  bool Reading() const { return InState(csReading); }
  bool Loading() const { return InState(csLoading); }
  bool Designing() const { return InState(csDesigning); }
  void SetDesigning(bool value);  // this component and those it owns

  // Loading from a stored description: BeginLoading marks this component and those
  // it owns as reading and loading; EndLoading clears the reading state, then runs
  // the after-load step (Loaded) of each, owned components first, in creation order.
  void BeginLoading();
  void EndLoading();

  // The removal notice: the owner tells each of its components that `component`
  // is going away (or was inserted).
  virtual void Notification(TComponent& component, TOperation operation);

 protected:
  virtual void Loaded();                                   // clears csLoading
  virtual void OnNameChanged(const std::string& oldName);  // after Name changed
  void AdoptComponent(std::unique_ptr<TComponent> component);
  // Frees every owned component now, newest first, with a removal notice each.
  // Derived destructors call it when their own state must still be alive while
  // their components go away (as a form's teardown does).
  void DestroyComponents();

 private:
  void InsertComponent(TComponent& component);
  void RemoveComponent(TComponent& component);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::intptr_t FTag = 0;
  unsigned FState = 0;
  std::vector<std::unique_ptr<TComponent>> FComponents;
};

}  // namespace pling::runtime
