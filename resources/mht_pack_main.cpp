// Build tool: packs the help page and the pictures of the program's windows into readme.mht.
// Usage: mht_pack OUTPUT PAGE.html PICTURE.png...
// A picture's name inside the page is its file name.
#include "resources/mhtml.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "mht_pack: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.size() < 2) {
        return fail(QStringLiteral("usage: mht_pack OUTPUT PAGE.html PICTURE.png..."));
    }

    QFile page(arguments.at(1));
    if (!page.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read ") + page.fileName());
    }
    const QString html = QString::fromUtf8(page.readAll());

    QList<helpfile::Picture> pictures;
    for (const QString& path : arguments.mid(2)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(QStringLiteral("cannot read ") + path);
        }
        pictures.append(helpfile::Picture{QFileInfo(path).fileName(), file.readAll()});
    }

    const helpfile::Packed packed = helpfile::packMhtml(html, pictures);
    if (!packed.error.isEmpty()) {
        return fail(packed.error);
    }
    QSaveFile out(arguments.at(0));
    if (!out.open(QIODevice::WriteOnly) || out.write(packed.mhtml) != packed.mhtml.size() ||
        !out.commit()) {
        return fail(QStringLiteral("cannot write ") + arguments.at(0));
    }
    return 0;
}
