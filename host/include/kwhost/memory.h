// The host allocator. Every block is tracked under the source tag it was allocated with,
// and tests can make a chosen allocation fail (see kwhost/app/testing.h).
#pragma once

#include <new>
#include <utility>

#include "kwhost/types.h"

/// Allocates `size` bytes tagged with the caller's source file and line; null when memory
/// is exhausted (or a test made this allocation fail) and for a negative size.
void* GeAlloc(LLONG size, const char* sourceTag = "", LONG line = 0);

/// Returns a block to the host allocator and sets the pointer to null. Null is ignored.
void GeFreeRaw(void* block);
template <class T>
void GeFree(T*& block) {
  GeFreeRaw(const_cast<void*>(static_cast<const void*>(block)));
  block = nullptr;
}

/// Allocates `count` elements of T (uninitialised storage for trivial types); null when the
/// size overflows or memory is exhausted.
template <class T>
T* GeAllocArray(LLONG count, const char* sourceTag = "", LONG line = 0) {
  if (count < 0 || count > static_cast<LLONG>(0x7fffffffffffffffLL / sizeof(T))) return nullptr;
  return static_cast<T*>(GeAlloc(count * static_cast<LLONG>(sizeof(T)), sourceTag, line));
}

/// Creates a T through the host allocator; null when memory is exhausted.
template <class T, class... Args>
T* NewObj(const char* sourceTag, LONG line, Args&&... args) {
  void* block = GeAlloc(sizeof(T), sourceTag, line);
  if (!block) return nullptr;
  return new (block) T(std::forward<Args>(args)...);
}

/// Destroys an object made by `NewObj` and sets the pointer to null.
template <class T>
void DeleteObj(T*& object) {
  if (!object) return;
  object->~T();
  GeFreeRaw(object);
  object = nullptr;
}
