#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace pfcp2 {

// Texts cross the library's boundary in windows-1251. A character that the
// code page cannot hold becomes "?".
QByteArray ToCp1251(const QString& Text);
QString FromCp1251(const char* Text);

// Writes Text into a caller's area of Size bytes, cut to fit, zero-terminated.
// A null Area is left alone.
void PutText(char* Area, int Size, const QString& Text);
// A library-owned zero-terminated copy, released by FreeText.
char* NewText(const QString& Text);
void FreeText(char*& Text);

// Buffers the library hands out carry their size in front, so that
// PFFreeData wipes exactly what was given whatever length the caller passes.
uint8_t* NewBuffer(size_t Size);
void FreeBuffer(uint8_t* Data);

// The Ukrainian text of an error code.
QString ErrorDescription(int Code);

// What went wrong: a code of PFCP2.h and its text (the code's description,
// or a more precise one).
struct TError {
    int Code = 0;
    QString Text;
};
TError MakeError(int Code);
TError MakeError(int Code, const QString& Detail);

} // namespace pfcp2
