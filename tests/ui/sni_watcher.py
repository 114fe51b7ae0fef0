#!/usr/bin/python3
# A minimal StatusNotifierWatcher for tests, on the private session bus the test started: it takes the
# first item that registers, reads what a panel would show of it (icon, tool tip, menu), writes that as
# JSON to the file named on the command line, activates the item as a left click would, and exits.
import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
loop = GLib.MainLoop()
out_path = sys.argv[1]


def menu_labels(layout):
    labels = []
    _, props, children = layout
    if "label" in props:
        labels.append(str(props["label"]))
    for child in children:
        labels.extend(menu_labels(child))
    return labels


def read_item(service):
    item = bus.get_object(service, "/StatusNotifierItem")
    props = dbus.Interface(item, "org.freedesktop.DBus.Properties")
    get = lambda name: props.Get(ITEM, name)
    pixmaps = [{"width": int(w), "height": int(h), "argb": bytes(bytearray(data)).hex()}
               for (w, h, data) in get("IconPixmap")]
    tooltip = get("ToolTip")
    menu_path = str(get("Menu"))
    menu = bus.get_object(service, menu_path)
    _, layout = dbus.Interface(menu, "com.canonical.dbusmenu").GetLayout(0, -1, ["label"])
    result = {
        "service": service,
        "id": str(get("Id")),
        "title": str(get("Title")),
        "status": str(get("Status")),
        "iconName": str(get("IconName")),
        "pixmaps": pixmaps,
        "tooltip": str(tooltip[2]),
        "menuPath": menu_path,
        "menu": menu_labels(layout),
    }
    with open(out_path, "w", encoding="utf-8") as f:
        json.dump(result, f)
    # A left click on the icon.
    dbus.Interface(item, ITEM).Activate(0, 0)
    GLib.timeout_add(500, loop.quit)
    return False


INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


class Watcher(dbus.service.Object):
    def __init__(self):
        dbus.service.Object.__init__(self, bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        name = service if service.startswith(":") or "." in service else sender
        self.items.append(name)
        # Answer first: the item waits for no reply, but reading it belongs to the main loop.
        if len(self.items) == 1:
            GLib.idle_add(read_item, name)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    # Qt reads IsStatusNotifierHostRegistered as a property, which its introspection must declare.
    @dbus.service.method("org.freedesktop.DBus.Introspectable", in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }


watcher = Watcher()
name = dbus.service.BusName(WATCHER, bus)
print("ready", flush=True)
GLib.timeout_add(120000, loop.quit)
loop.run()
