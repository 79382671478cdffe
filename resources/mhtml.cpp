#include "resources/mhtml.h"

#include <QRegularExpression>
#include <QSet>

namespace helpfile {

namespace {

// Neither base64 nor quoted-printable text can hold "=_", so the boundary never occurs inside
// a part.
constexpr const char* Boundary = "----=_NextPart_000_Varnolt_Help";
constexpr const char* CrLf = "\r\n";
constexpr int MaxLine = 76;

QByteArray wrapped(const QByteArray& base64) {
    QByteArray out;
    for (qsizetype at = 0; at < base64.size(); at += MaxLine) {
        out += base64.mid(at, MaxLine);
        out += CrLf;
    }
    return out;
}

} // namespace

QString pictureLocation(const QString& name) {
    return QStringLiteral("https://varnolt.invalid/help/") + name;
}

QByteArray encodeQuotedPrintable(const QByteArray& text) {
    static const char Hex[] = "0123456789ABCDEF";
    QByteArray out;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QByteArray line = lines.at(index);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        int lineLength = 0;
        for (qsizetype at = 0; at < line.size(); ++at) {
            const auto c = static_cast<unsigned char>(line.at(at));
            const bool last = at == line.size() - 1;
            QByteArray token;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
                token = QByteArray(1, static_cast<char>(c));
            } else {
                token = QByteArray{"="} + Hex[c >> 4] + Hex[c & 15];
            }
            // A soft break "=" must fit on the line too.
            if (lineLength + token.size() > MaxLine - 1) {
                out += "=";
                out += CrLf;
                lineLength = 0;
            }
            out += token;
            lineLength += static_cast<int>(token.size());
        }
        if (index + 1 < lines.size()) {
            out += CrLf;
        }
    }
    return out;
}

Packed packMhtml(const QString& html, const QList<Picture>& pictures) {
    static const QRegularExpression Reference(QStringLiteral("src=\"image:([^\"]+)\""));

    QSet<QString> known;
    for (const Picture& picture : pictures) {
        known.insert(picture.name);
    }
    QSet<QString> referenced;
    for (const QRegularExpressionMatch& match : Reference.globalMatch(html)) {
        const QString name = match.captured(1);
        if (!known.contains(name)) {
            return Packed{{},
                          QStringLiteral("The page refers to a picture it was not given: ") + name};
        }
        referenced.insert(name);
    }
    for (const Picture& picture : pictures) {
        if (!referenced.contains(picture.name)) {
            return Packed{{}, QStringLiteral("No reference to the picture ") + picture.name};
        }
    }

    QString page = html;
    for (const Picture& picture : pictures) {
        page.replace(QStringLiteral("src=\"image:%1\"").arg(picture.name),
                     QStringLiteral("src=\"%1\"").arg(pictureLocation(picture.name)));
    }

    QByteArray out;
    out += "From: <Saved by Varnolt>\r\n";
    out += "Subject: Varnolt Help\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: multipart/related;\r\n";
    out += "\ttype=\"text/html\";\r\n";
    out += QByteArray("\tboundary=\"") + Boundary + "\"\r\n";
    out += CrLf;
    out += "This is a multi-part message in MIME format.\r\n";

    out += CrLf;
    out += QByteArray("--") + Boundary + CrLf;
    out += "Content-Type: text/html; charset=\"utf-8\"\r\n";
    out += "Content-Transfer-Encoding: quoted-printable\r\n";
    out += QByteArray("Content-Location: ") + HelpLocation + CrLf;
    out += CrLf;
    out += encodeQuotedPrintable(page.toUtf8());
    out += CrLf;

    for (const Picture& picture : pictures) {
        out += CrLf;
        out += QByteArray("--") + Boundary + CrLf;
        out += "Content-Type: image/png\r\n";
        out += "Content-Transfer-Encoding: base64\r\n";
        out += "Content-Location: " + pictureLocation(picture.name).toUtf8() + CrLf;
        out += CrLf;
        out += wrapped(picture.png.toBase64());
    }
    out += CrLf;
    out += QByteArray("--") + Boundary + "--" + CrLf;
    return Packed{out, {}};
}

} // namespace helpfile
