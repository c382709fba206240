// How the binding surface keeps its objects. A handle is a core object
// with a tag in front: the tag tells a handle made by `_init`/`_new` from
// other memory a binding might pass by mistake (null, or memory that does
// not hold the tag, is refused rather than used), and whether `_destroy`
// frees the memory. An object may live in memory the binding owns, at any
// alignment: `_size` asks for room for the object and the slack to align
// it. `_destroy` wipes the whole object, tag included, so a destroyed
// handle is refused as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "compatcrypt_bind.h"
#include "support/secure_wipe.h"
#include "support/stack_burn.h"

namespace compatcrypt::binding {

// Four letters per kind, so that a digest handle passed as a coder is
// refused too.
enum class Kind : uint32_t { digest = 0x44494753, file = 0x46494c45, coder = 0x434f4452 };

template <typename Object, Kind K>
struct Tagged {
  static constexpr uint32_t kTag = static_cast<uint32_t>(K);

  template <typename... Args>
  explicit Tagged(Args &&...args) : object(std::forward<Args>(args)...) {}

  uint32_t tag = kTag;
  bool owned = false;  // allocated by `_new`: freed by `_destroy`
  Object object;
};

template <typename T>
constexpr std::size_t RoomFor() {
  return sizeof(T) + alignof(T) - 1;
}

// Constructs a T inside `memory` (`size` bytes, any alignment); null when
// it does not fit.
template <typename T, typename... Args>
T *PlaceIn(void *memory, std::size_t size, Args &&...args) {
  if (memory == nullptr) return nullptr;
  void *place = memory;
  std::size_t room = size;
  if (std::align(alignof(T), sizeof(T), place, room) == nullptr) return nullptr;
  return new (place) T(std::forward<Args>(args)...);
}

// A T on the heap; malloc's alignment suffices, so the object starts where
// the allocation does and free() takes its address.
template <typename T, typename... Args>
T *Allocate(Args &&...args) {
  static_assert(alignof(T) <= alignof(std::max_align_t));
  void *memory = std::malloc(sizeof(T));
  if (memory == nullptr) return nullptr;
  T *object = new (memory) T(std::forward<Args>(args)...);
  object->owned = true;
  return object;
}

// The object behind a handle, or null for anything that is not a live
// handle of this kind.
template <typename T>
T *Live(const void *handle) {
  if (handle == nullptr) return nullptr;
  auto *tagged = static_cast<T *>(const_cast<void *>(handle));
  return tagged->tag == T::kTag ? tagged : nullptr;
}

template <typename T>
int Destroy(void *handle) {
  T *tagged = Live<T>(handle);
  if (tagged == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  const bool owned = tagged->owned;
  tagged->~T();
  SecureWipe(tagged, sizeof(T));
  if (owned) std::free(tagged);
  return COMPATCRYPT_BIND_OK;
}

// `_init` and `_new` in one: into the binding's memory when `memory` is
// given, else allocated.
template <typename T, typename Handle, typename... Args>
int Make(void *memory, std::size_t size, bool allocate, Handle **out, Args &&...args) {
  if (out == nullptr) return COMPATCRYPT_BIND_E_ARGUMENT;
  *out = nullptr;
  T *made = allocate ? Allocate<T>(std::forward<Args>(args)...)
                     : PlaceIn<T>(memory, size, std::forward<Args>(args)...);
  if (made == nullptr) return allocate ? COMPATCRYPT_BIND_E_NO_MEMORY : COMPATCRYPT_BIND_E_ARGUMENT;
  *out = reinterpret_cast<Handle *>(made);
  return COMPATCRYPT_BIND_OK;
}

}  // namespace compatcrypt::binding
