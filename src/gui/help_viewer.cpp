#include "gui/help_viewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

namespace quarry::gui {
namespace {

QPointer<QTextBrowser> gHelp;
QString gKey;

// Installed, the pages lie in the data folder beside the program's folder (/usr/bin/quarry reads
// /usr/share/quarry/help), found from where the program is so that any installation prefix, or
// a package unpacked into another root, works; run from a build, they are read from the source
// tree.
QString helpIndexPath() {
    const QString installed =
        QCoreApplication::applicationDirPath() + "/" + QUARRY_INSTALLED_HELP_DIR + "/index.html";
    if (QFileInfo::exists(installed)) return QFileInfo(installed).canonicalFilePath();
    return QString(QUARRY_HELP_DIR) + "/index.html";
}

}  // namespace

void openHelpAt(QWidget* owner, const QString& key) {
    if (!gHelp) {
        gHelp = new QTextBrowser(owner ? owner->window() : nullptr);
        gHelp->setWindowFlag(Qt::Window);
        gHelp->setAttribute(Qt::WA_DeleteOnClose);
        gHelp->setObjectName("help");
        gHelp->setWindowTitle(QObject::tr("Quarry Help"));
        gHelp->resize(560, 480);
    }
    QUrl url = QUrl::fromLocalFile(helpIndexPath());
    if (key != "index") url.setFragment(key);
    gHelp->setSource(url);
    if (key != "index") gHelp->scrollToAnchor(key);
    gKey = key;
    gHelp->show();
    gHelp->raise();
}

QString shownHelpKey() { return gHelp ? gKey : QString(); }

}  // namespace quarry::gui
