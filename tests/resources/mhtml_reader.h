#pragma once

// A small MHTML reader for the tests, written apart from the program's packer so that the two
// cannot share a mistake: headers (folded lines joined), the boundary from Content-Type, the
// parts with their own headers, and their bodies decoded from base64 or quoted-printable.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRegularExpression>
#include <QString>

namespace mhtml {

using Headers = QMap<QByteArray, QByteArray>; // names in lower case

struct Part {
    Headers headers;
    QByteArray body; // decoded
    QString error;   // why the body could not be decoded
};

struct Document {
    Headers headers;
    QByteArray boundary;
    QList<Part> parts;
    QString error;
};

inline QList<QByteArray> lines(const QByteArray& text) {
    QList<QByteArray> result = text.split('\n');
    for (QByteArray& line : result) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    return result;
}

inline Headers readHeaders(const QList<QByteArray>& headerLines) {
    Headers headers;
    QByteArray name;
    for (const QByteArray& line : headerLines) {
        if ((line.startsWith(' ') || line.startsWith('\t')) && !name.isEmpty()) {
            headers[name] += ' ' + line.trimmed();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            continue;
        }
        name = line.left(colon).trimmed().toLower();
        headers[name] = line.mid(colon + 1).trimmed();
    }
    return headers;
}

// The value of a parameter of a structured header such as Content-Type.
inline QByteArray parameter(const QByteArray& value, const QString& name) {
    const QRegularExpression pattern(
        QStringLiteral("(?:^|;)\\s*%1\\s*=\\s*(?:\"([^\"]*)\"|([^;\\s]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(value));
    if (!match.hasMatch()) {
        return {};
    }
    return (match.capturedLength(1) > 0 ? match.captured(1) : match.captured(2)).toLatin1();
}

inline QByteArray mediaType(const QByteArray& contentType) {
    return contentType.split(';').first().trimmed().toLower();
}

inline bool decodeQuotedPrintable(const QByteArray& text, QByteArray& out) {
    out.clear();
    for (qsizetype at = 0; at < text.size(); ++at) {
        const char c = text.at(at);
        if (c != '=') {
            out += c;
            continue;
        }
        if (text.mid(at + 1, 2) == "\r\n") {
            at += 2;
            continue;
        }
        if (text.mid(at + 1, 1) == "\n") {
            at += 1;
            continue;
        }
        bool ok = false;
        const int byte = text.mid(at + 1, 2).toInt(&ok, 16);
        if (!ok || text.mid(at + 1, 2).size() != 2) {
            return false;
        }
        out += static_cast<char>(byte);
        at += 2;
    }
    return true;
}

inline Part readPart(const QList<QByteArray>& partLines) {
    Part part;
    qsizetype blank = partLines.indexOf(QByteArray());
    if (blank < 0) {
        part.error = QStringLiteral("a part without the blank line after its headers");
        return part;
    }
    part.headers = readHeaders(partLines.mid(0, blank));
    const QByteArray raw = partLines.mid(blank + 1).join("\r\n");
    const QByteArray encoding = part.headers.value("content-transfer-encoding").toLower();
    if (encoding == "base64") {
        QByteArray compact = raw;
        compact.replace("\r", "").replace("\n", "");
        const auto decoded =
            QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            part.error = QStringLiteral("the base64 text does not decode");
        }
        part.body = decoded.decoded;
    } else if (encoding == "quoted-printable") {
        if (!decodeQuotedPrintable(raw, part.body)) {
            part.error = QStringLiteral("the quoted-printable text does not decode");
        }
    } else {
        part.body = raw;
    }
    return part;
}

inline Document read(const QByteArray& data) {
    Document document;
    const QList<QByteArray> all = lines(data);
    const qsizetype blank = all.indexOf(QByteArray());
    if (blank < 0) {
        document.error = QStringLiteral("no blank line after the headers");
        return document;
    }
    document.headers = readHeaders(all.mid(0, blank));
    const QByteArray contentType = document.headers.value("content-type");
    if (mediaType(contentType) != "multipart/related") {
        document.error =
            QStringLiteral("not multipart/related: ") + QString::fromLatin1(contentType);
        return document;
    }
    document.boundary = parameter(contentType, QStringLiteral("boundary"));
    if (document.boundary.isEmpty()) {
        document.error = QStringLiteral("no boundary");
        return document;
    }

    const QByteArray delimiter = "--" + document.boundary;
    const QByteArray closing = delimiter + "--";
    QList<QByteArray> current;
    bool inPart = false;
    bool closed = false;
    for (qsizetype index = blank + 1; index < all.size(); ++index) {
        const QByteArray line = all.at(index);
        const QByteArray trimmed = line.trimmed();
        if (trimmed == delimiter || trimmed == closing) {
            if (inPart) {
                // The line break before a delimiter belongs to the delimiter.
                if (!current.isEmpty() && current.last().isEmpty()) {
                    current.removeLast();
                }
                document.parts.append(readPart(current));
            }
            current.clear();
            inPart = trimmed == delimiter;
            if (trimmed == closing) {
                closed = true;
                break;
            }
            continue;
        }
        if (inPart) {
            current.append(line);
        }
    }
    if (!closed) {
        document.error = QStringLiteral("no closing boundary");
    }
    return document;
}

} // namespace mhtml
