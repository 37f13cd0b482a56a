// Descriptions: the parameters a node shows in the attribute view.
#pragma once

#include <vector>

#include "kwhost/container.h"
#include "kwhost/types.h"

/// A description ID: the parameter ID and an optional sub-level.
struct DescID {
  LONG id = 0;
  LONG sub = 0;
  constexpr DescID() = default;
  constexpr DescID(LONG id_, LONG sub_ = 0) : id(id_), sub(sub_) {}
  constexpr LONG operator[](int level) const { return level == 0 ? id : sub; }
  constexpr bool operator==(const DescID&) const = default;
};

// Keys of a description entry's container.
constexpr LONG DESC_NAME = 1;       ///< String: the label shown to the user
constexpr LONG DESC_IDENT = 2;      ///< String: the parameter's symbol, e.g. "TWIRL_RADIUS"
constexpr LONG DESC_DTYPE = 3;      ///< Long: a `DescType`
constexpr LONG DESC_GROUP = 4;      ///< String: the group the entry is shown in
constexpr LONG DESC_MIN = 5;        ///< Real: smallest value the field offers
constexpr LONG DESC_MAX = 6;        ///< Real: largest value the field offers
constexpr LONG DESC_CYCLE = 7;      ///< String: "value:label;value:label" of a choice list
constexpr LONG DESC_UNIT = 8;       ///< String: "distance", "angle", "percent" or empty
constexpr LONG DESC_DISABLED = 14;  ///< Bool: shown but not editable (`GetDEnabling`)
// DESC_HIDE (15) is in kwhost/ids.h: Bool, the entry is hidden.

/// The data type of a description entry.
enum class DescType : LONG {
  Long,
  Real,
  Bool,
  String,
  Vector,
  Matrix,
  Time,
  Link,
  Spline,
  Button,
  Separator
};

/// The parameters of one node, in the order they are shown.
class Description {
 public:
  struct Entry {
    DescID id;
    DescType type = DescType::Real;
    BaseContainer bc;  ///< DESC_NAME, DESC_IDENT, DESC_HIDE, ...
  };

  /// Appends the parameters registered for the node type `type` (a plug-in ID whose
  /// description was registered, or a host type). False when there is none.
  Bool LoadDescription(LONG type);
  /// Appends the parameters of the description resource registered under `name`.
  Bool LoadDescription(const String& name);
  /// Appends one entry (a later entry with the same ID replaces the earlier one).
  void AddEntry(const Entry& entry);

  /// The container of the entry with `id` (first level), or null.
  BaseContainer* GetParameterI(const DescID& id);
  const Entry* Find(LONG id) const;
  /// The entry whose DESC_IDENT is `ident`, or null.
  const Entry* FindByIdent(const String& ident) const;
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

/// The data of a description-command message (18): the button pressed.
struct DescriptionCommand {
  DescID id;
};

/// The data of the drag-and-drop check message (26): the target field, the dragged node and
/// the answer (true accepts the drop).
struct DescriptionCheckDragAndDrop {
  DescID id;
  class GeListNode* element = nullptr;
  Bool result = true;
};
