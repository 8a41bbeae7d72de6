#include "app/ui/KZCompositor.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#if QT_CONFIG(xcb) && defined(KZ_HAVE_XCB)
#include <xcb/xcb.h>
#endif

#include <cstdlib>
#include <utility>

namespace {

std::function<bool()>& ownerQuery()
{
    static std::function<bool()> query;
    return query;
}

#if QT_CONFIG(xcb) && defined(KZ_HAVE_XCB)
// The X screen Qt connected to: the one its display name gives (":0.1" is
// screen 1), the first where the name gives none.
int screenOfDisplay()
{
    const QByteArray name = qgetenv("DISPLAY");
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (name.isEmpty() || !xcb_parse_display(name.constData(), &host, &display, &screen))
        screen = 0;
    std::free(host);
    return screen;
}

bool compositingManagerOwnsSelection()
{
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || xcb_connection_has_error(connection))
        return false;
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(screenOfDisplay());
    // Only an atom that exists: a selection never named was never owned.
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(selection.size()), selection.constData()), nullptr);
    const xcb_atom_t name = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(atom);
    if (name == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, name), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}
#else
bool compositingManagerOwnsSelection()
{
    return false;
}
#endif

} // namespace

bool KZCompositor::composites(QStringView platformName, const std::function<bool()>& askSelectionOwner)
{
    return platformName == QLatin1String("xcb") && askSelectionOwner && askSelectionOwner();
}

bool KZCompositor::composites()
{
    if (!qApp)
        return false;
    const std::function<bool()>& query = ownerQuery();
    return composites(QGuiApplication::platformName(),
                      query ? query : std::function<bool()>(compositingManagerOwnsSelection));
}

void KZCompositor::setSelectionOwnerQuery(std::function<bool()> query)
{
    ownerQuery() = std::move(query);
}
