#pragma once
// Numbers shown in labels and used in slide file names are padded with
// leading zeros to a minimum number of digits; a negative number gets its
// minus sign before the padded digits, and longer numbers are written in full.

#include <QString>

namespace numfmt {

QString pad(qint64 value, int digits);
inline QString pos4(qint64 value) { return pad(value, 4); }    // "0000": positions
inline QString count3(qint64 value) { return pad(value, 3); }  // "000": slide count, file numbers
inline QString frame2(qint64 value) { return pad(value, 2); }  // "00": animation frames

} // namespace numfmt
