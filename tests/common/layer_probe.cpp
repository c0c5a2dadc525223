// Built only by the domain_rooms_see_no_widgets test, which expects it not to compile: the
// domain rooms' libraries must not bring the widget headers with them.
#include <QWidget>
