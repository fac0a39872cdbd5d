#include "app/Help.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace kairelon {

std::vector<std::string> HelpPageCandidates(const std::string& programFolder) {
    std::string folder = programFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string name = HelpPageName;
    std::vector<std::string> candidates;
    if (!folder.empty()) {
        candidates.push_back(folder + "/" + name);
        candidates.push_back(folder + "/../share/doc/kairelon/" + name);
    }
    candidates.push_back("/usr/share/doc/kairelon/" + name);
    return candidates;
}

std::string FindHelpPage(const std::string& programFolder) {
    for (const std::string& candidate : HelpPageCandidates(programFolder)) {
        const QFileInfo info(QString::fromStdString(candidate));
        if (info.isFile() && info.isReadable())
            return info.canonicalFilePath().toStdString();
    }
    return {};
}

UrlOpener DesktopUrlOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

bool OpenHelp(const std::string& programFolder, const UrlOpener& open) {
    const std::string page = FindHelpPage(programFolder);
    if (page.empty() || !open)
        return false;
    return open(QUrl::fromLocalFile(QString::fromStdString(page)));
}

} // namespace kairelon
