#include "Text.h"

#include <QFile>

QString PathToText(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

std::string TextToPath(const QString &text) {
    return QFile::encodeName(text).toStdString();
}
