#!/usr/bin/python3
"""A stand-in ModemManager for tests, on a bus of their own.

It owns org.freedesktop.ModemManager1, lists one modem per --modem DEVICE
(the Device property, a USB device's sysfs path) through GetManagedObjects,
and keeps InhibitDevice's rules: only a known Device can be inhibited, only
once, only the connection that inhibited it gives it back, and a connection
that closes gives back what it held; with --refuse every InhibitDevice
is refused, as for a user not allowed to. Every call and the closing of every
connection that called is appended to --record as one line:

    <event> TAB <argument> TAB <caller> TAB <lines in --watch>

with the event objects, inhibit, release, refused or gone. The count of
lines of the watched file (a card's transcript) at that moment places the
event among what the card saw. Prints "ready" once it owns its name.
"""
import argparse
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = "org.freedesktop.ModemManager1"
MANAGER = "/org/freedesktop/ModemManager1"
MODEM = SERVICE + ".Modem"


class NotFound(dbus.exceptions.DBusException):
    _dbus_error_name = SERVICE + ".Error.Core.NotFound"


class WrongState(dbus.exceptions.DBusException):
    _dbus_error_name = SERVICE + ".Error.Core.WrongState"


class Unauthorized(dbus.exceptions.DBusException):
    _dbus_error_name = SERVICE + ".Error.Core.Unauthorized"


class Recorder:
    def __init__(self, record, watch):
        self.record = record
        self.watch = watch

    def watched_lines(self):
        try:
            with open(self.watch, "rb") as watched:
                return watched.read().count(b"\n")
        except OSError:
            return 0

    def write(self, event, argument, caller):
        with open(self.record, "a") as out:
            out.write(f"{event}\t{argument}\t{caller}\t{self.watched_lines()}\n")


def modem_properties(device):
    # Interfaces and properties beside Device, as a real modem has them.
    return {
        SERVICE + ".Modem.Modem3gpp": {"Imei": dbus.String("000000000000000")},
        MODEM: {
            "State": dbus.Int32(8),
            "Manufacturer": dbus.String("stand-in"),
            "Device": dbus.String(device),
            "Ports": dbus.Array([dbus.Struct(("ttyUSB1", dbus.UInt32(3)))], signature="(su)"),
        },
    }


class Manager(dbus.service.Object):
    def __init__(self, bus, devices, refuse, recorder):
        super().__init__(bus, MANAGER)
        self.devices = devices
        self.refuse = refuse
        self.recorder = recorder
        self.callers = set()
        self.inhibited = {}  # device -> the connection that holds it
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus",
                                "org.freedesktop.DBus", "/org/freedesktop/DBus")

    def note(self, event, argument, sender):
        self.callers.add(sender)
        self.recorder.write(event, argument, sender)

    @dbus.service.method("org.freedesktop.DBus.ObjectManager", out_signature="a{oa{sa{sv}}}",
                         sender_keyword="sender")
    def GetManagedObjects(self, sender):
        self.note("objects", "-", sender)
        return {dbus.ObjectPath(f"{MANAGER}/Modem/{n}"): modem_properties(device)
                for n, device in enumerate(self.devices)}

    @dbus.service.method(SERVICE, in_signature="sb", sender_keyword="sender")
    def InhibitDevice(self, uid, inhibit, sender):
        problem = None
        if self.refuse:
            problem = Unauthorized("Not authorized to control the device")
        elif uid not in self.devices:
            problem = NotFound(f"No device found with uid '{uid}'")
        elif inhibit and uid in self.inhibited:
            problem = WrongState(f"Device '{uid}' is already inhibited")
        elif not inhibit and self.inhibited.get(uid) != sender:
            problem = WrongState(f"Device '{uid}' is not inhibited by this caller")
        self.note("refused" if problem else ("inhibit" if inhibit else "release"), uid, sender)
        if problem:
            raise problem
        if inhibit:
            self.inhibited[uid] = sender
        else:
            del self.inhibited[uid]

    def owner_changed(self, name, old_owner, new_owner):
        if new_owner or name not in self.callers:
            return
        self.recorder.write("gone", ",".join(d for d, s in self.inhibited.items() if s == name) or "-", name)
        self.inhibited = {d: s for d, s in self.inhibited.items() if s != name}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", required=True)
    parser.add_argument("--record", required=True)
    parser.add_argument("--watch", default="")
    parser.add_argument("--modem", action="append", default=[])
    parser.add_argument("--refuse", action="store_true")
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(args.address)
    manager = Manager(bus, args.modem, args.refuse, Recorder(args.record, args.watch))
    name = dbus.service.BusName(SERVICE, bus, do_not_queue=True)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del manager, name


if __name__ == "__main__":
    sys.exit(main())
