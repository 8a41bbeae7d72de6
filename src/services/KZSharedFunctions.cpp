#include "services/KZSharedFunctions.h"

#include "platform/Paths.h"

#include <mutex>

namespace {

std::mutex g_providerMutex;
std::function<bool(const QString&)> g_appRunningProvider;

int sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

QSizeF KZSizeFittingMaxWidth(double width, double height, double maxWidth)
{
    if (width <= 0 || height <= 0)
        return {0, 0};
    if (width > maxWidth)
        return {width, height * maxWidth / width};
    return {width, height};
}

bool KZTreeFindValueForKey(quint64 key, const IdsTree* root, qint16* label)
{
    for (const IdsTree* node = root; node;) {
        if (node->key == key) {
            if (label)
                *label = node->label;
            return true;
        }
        node = key < node->key ? node->left : node->right;
    }
    return false;
}

int KZCompareURLPaths(const QUrl& a, const QUrl& b, void*)
{
    return sign(QString::compare(a.path(), b.path(), Qt::CaseInsensitive));
}

int KZCompareURLPaths(const std::filesystem::path& a, const std::filesystem::path& b, void*)
{
    return sign(QString::compare(platform::pathText(a), platform::pathText(b), Qt::CaseInsensitive));
}

bool KZIsAppRunning(const QString& bundleIdentifier)
{
    std::function<bool(const QString&)> provider;
    {
        std::lock_guard lock(g_providerMutex);
        provider = g_appRunningProvider;
    }
    return provider && !bundleIdentifier.isEmpty() && provider(bundleIdentifier);
}

void KZSetAppRunningProvider(std::function<bool(const QString&)> provider)
{
    std::lock_guard lock(g_providerMutex);
    g_appRunningProvider = std::move(provider);
}

double KZContrastingTextWhite(bool fontColorIsBlack, double red, double green, double blue)
{
    const double luminance = (0.299 * 255 * red + 0.587 * 255 * green + 0.114 * 255 * blue) / 255;
    if (1 - luminance < 0.5)
        return fontColorIsBlack ? 0.0 : 0.15;
    return 1.0;
}
