#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace helpfile {

// A picture of the help page: the name the page's template refers to it by, and its PNG data.
struct Picture {
    QString name;
    QByteArray png;
};

struct Packed {
    QByteArray mhtml; // empty on failure
    QString error;
};

// Where the page and its pictures claim to come from. A viewer looks the pictures up by
// these addresses inside the file and never goes to them; the reserved .invalid domain makes
// sure of that. Browsers do not take pictures with file: addresses out of an MHTML file.
inline constexpr const char* HelpLocation = "https://varnolt.invalid/help/readme.htm";
QString pictureLocation(const QString& name);

// Packs one HTML page and its pictures into one MHTML document (multipart/related: the page
// first, as quoted-printable UTF-8, then each picture base64-encoded). The page refers to a
// picture as src="image:NAME"; each such reference becomes the picture's Content-Location.
// A reference without a picture, or a picture without a reference, is an error.
Packed packMhtml(const QString& html, const QList<Picture>& pictures);

QByteArray encodeQuotedPrintable(const QByteArray& text);

} // namespace helpfile
