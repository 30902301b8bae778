#pragma once
// The text of an object-list entry, and how its kind and number are read
// back. The object list is the only place that ties an entry to its stage
// element, so both directions live here together.

#include <QString>

#include <optional>

namespace picker {

enum class EntryKind { Unknown, Character, Prop };

QString characterEntry(const QString &assetName, int number);
QString propEntry(const QString &assetName, int number);
// A caption is a prop whose picture is drawn from its text: "надпись (first words) индекс > N".
QString captionEntry(const QString &text, int number);

// From the first three characters: "пер" is a character, "пре" a prop, and so is "над", a caption.
EntryKind entryKind(const QString &entry);

// The whole decimal number after the last ") индекс > ". Nothing when the
// marker is missing, the rest is not plain digits, or it does not fit the
// 16-bit counters.
std::optional<qint16> entryNumber(const QString &entry);

} // namespace picker
