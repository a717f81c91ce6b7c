// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/component.h"

#include <algorithm>

namespace pling::runtime {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {}

TComponent::~TComponent() {
  FState |= csDestroying;
  DestroyComponents();
}

void TComponent::AdoptComponent(std::unique_ptr<TComponent> component) {
  TComponent& inserted = *component;
  FComponents.push_back(std::move(component));
  InsertComponent(inserted);
}

void TComponent::InsertComponent(TComponent& component) {
  component.FOwner = this;
  if (Designing()) component.SetDesigning(true);
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent& component) {
  Notification(component, TOperation::opRemove);
}

void TComponent::FreeComponent(TComponent& component) {
  auto it = std::find_if(FComponents.begin(), FComponents.end(),
                         [&](const auto& owned) { return owned.get() == &component; });
  if (it == FComponents.end()) return;
  // Taken out of the list first, so that the notice does not reach the component
  // about itself and nothing sees it while it is half destroyed.
  std::unique_ptr<TComponent> freed = std::move(*it);
  FComponents.erase(it);
  RemoveComponent(*freed);
  freed.reset();
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) FreeComponent(*FComponents.back());
}

void TComponent::SetName(const std::string& value) {
  if (value == FName) return;
  const std::string oldName = FName;
  FName = value;
  OnNameChanged(oldName);
}

void TComponent::OnNameChanged(const std::string& /*oldName*/) {}

void TComponent::SetDesigning(bool value) {
  if (value) {
    FState |= csDesigning;
  } else {
    FState &= ~static_cast<unsigned>(csDesigning);
  }
  for (auto& component : FComponents) component->SetDesigning(value);
}

void TComponent::BeginLoading() {
  FState |= csReading | csLoading;
  for (auto& component : FComponents) component->BeginLoading();
}

void TComponent::EndLoading() {
  std::vector<TComponent*> loading;
  // Every component of the description is read before any after-load step runs.
  const auto clearReading = [&](auto& self, TComponent& component) -> void {
    component.FState &= ~static_cast<unsigned>(csReading);
    for (auto& owned : component.FComponents) self(self, *owned);
    loading.push_back(&component);
  };
  clearReading(clearReading, *this);
  for (TComponent* component : loading) {
    if (component->Loading()) component->Loaded();
  }
}

void TComponent::Loaded() {
  FState &= ~static_cast<unsigned>(csLoading);
}

void TComponent::Notification(TComponent& component, TOperation operation) {
  for (auto it = FComponents.rbegin(); it != FComponents.rend(); ++it) {
    if (it->get() != &component) (*it)->Notification(component, operation);
  }
}

}  // namespace pling::runtime
