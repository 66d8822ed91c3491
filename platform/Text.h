// File names are bytes; Qt shows text. The one pair of conversions between the two, so every
// widget shows a name the same way and every path goes back to the system unchanged.
#pragma once

#include <QString>

#include <string>
#include <string_view>

// The display form of file-name bytes (the locale's file-name encoding, as QFile decodes it).
QString PathToText(std::string_view bytes);

// The file-name bytes of text, as QFile::encodeName gives them.
std::string TextToPath(const QString &text);
