// Tells tevoli-window, and no other program, which windows the desktop shows.
// The one source of both formats the Shell loads: lines marked "//@legacy " are
// for GNOME 43 and 44, lines marked "//@module " for GNOME 45 and later; the
// build keeps one kind, unmarked, and drops the other.
//@legacy 'use strict';
//@legacy const {Gio, GLib, Meta} = imports.gi;
//@module import Gio from 'gi://Gio';
//@module import GLib from 'gi://GLib';
//@module import Meta from 'gi://Meta';
//@module import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

// Set when the extension is built: the program allowed to call, as /proc shows it.
const ALLOWED_EXECUTABLE = '@TEVOLI_WINDOW_EXECUTABLE@';

const BUS_NAME = 'com.tevoli.WindowList';
const OBJECT_PATH = '/com/tevoli/WindowList';
const INTERFACE = `<node>
  <interface name="com.tevoli.WindowList">
    <method name="GetWindows">
      <arg type="a(tissiiiiiiuu)" direction="out" name="windows"/>
    </method>
  </interface>
</node>`;

// Application windows: menus, tooltips and the Shell's own 1x1 X11 window are no
// recording's subject.
const APPLICATION_TYPES = [Meta.WindowType.NORMAL, Meta.WindowType.DIALOG, Meta.WindowType.MODAL_DIALOG];

// Mutter id, pid (0 when unknown), title, WM class, frame rectangle, the frame's
// place in the window's buffer (where a screencast of the window draws it),
// client type (1 for X11) and the XID of an X11 window (else 0).
function windowRecord(window) {
    const frame = window.get_frame_rect();
    const buffer = window.get_buffer_rect();
    const x11 = window.get_client_type() === Meta.WindowClientType.X11;
    const description = window.get_description() ?? '';
    const xid = x11 && /^0x[0-9a-f]+$/i.test(description) ? parseInt(description, 16) : 0;
    return [window.get_id(), Math.max(window.get_pid(), 0), window.get_title() ?? '', window.get_wm_class() ?? '',
        frame.x, frame.y, frame.width, frame.height, frame.x - buffer.x, frame.y - buffer.y,
        window.get_client_type(), xid];
}

function applicationWindows() {
    return global.get_window_actors().map(actor => actor.meta_window).filter(window =>
        !window.is_override_redirect() && APPLICATION_TYPES.includes(window.get_window_type()));
}

// The caller's executable, or null when it cannot be told.
function executableOf(pid) {
    try {
        return GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {
        return null;
    }
}

class WindowListService {
    enable() {
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME, Gio.BusNameOwnerFlags.NONE,
            null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._object.unexport();
        this._object = null;
    }

    GetWindowsAsync(parameters, invocation) {
        // The bus daemon, not the caller, says which process holds the connection.
        invocation.get_connection().call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
            'GetConnectionUnixProcessID', new GLib.Variant('(s)', [invocation.get_sender()]),
            new GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                let pid = 0;
                try {
                    [pid] = connection.call_finish(result).deepUnpack();
                } catch (e) {
                }
                if (pid <= 0 || executableOf(pid) !== ALLOWED_EXECUTABLE) {
                    invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                        'Only tevoli-window may list the windows');
                    return;
                }
                invocation.return_value(new GLib.Variant('(a(tissiiiiiiuu))',
                    [applicationWindows().map(windowRecord)]));
            });
    }
}

//@legacy function init() {
//@legacy     return new WindowListService();
//@legacy }
//@module export default class WindowListExtension extends Extension {
//@module     enable() {
//@module         this._service = new WindowListService();
//@module         this._service.enable();
//@module     }
//@module
//@module     disable() {
//@module         this._service.disable();
//@module         this._service = null;
//@module     }
//@module }
