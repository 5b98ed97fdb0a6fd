// Ownership of one GObject reference, for the package and cabinet readers.
#pragma once

#include <glib-object.h>

// Owns a GObject reference and drops it when destroyed.
template <typename T>
struct GRef {
  T* p = nullptr; // the reference owned, or null
  GRef() = default;
  explicit GRef(T* q) : p(q) {}
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  ~GRef() {
    if (p) g_object_unref(p);
  }
};
