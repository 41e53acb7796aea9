'''NetworkManager for Veltrane's dial-up tests

python-dbusmock's own networkmanager template, with what a dial-up needs on
top of it: connection profiles of the modem kinds, the primary connection,
activations that take their time (or never come, or go away again),
deactivation without a device, and a method that never answers.

Parameters (a JSON object), besides those of the networkmanager template:

  Profiles         [[id, type, {options}], ...]; options: "bluetooth-type",
                   "autoconnect" (false when not given), "priority"
  PrimaryType      type of a connection that holds the default route from
                   the start ("" or absent: none)
  ListedAfter      seconds from ActivateConnection until the active
                   connection is listed (activating); negative: never
  UpAfter          seconds from ActivateConnection until it is activated and
                   holds the default route; negative: never
  GoneAfter        seconds from ActivateConnection until it goes away again;
                   negative: never
  DownAfter        seconds from DeactivateConnection until it is gone
  Hang             "ListConnections", "ActivateConnection" or "GetAll" on
                   the manager: that call never answers, and since the mock
                   answers one call at a time, nothing does after it
  Delay            seconds every call waits before it is answered (one call
                   at a time: a call sent meanwhile waits its turn)
'''

import time
import uuid

import dbus
import dbusmock
from gi.repository import GLib

# The stock template's D-Bus methods (AddTemplate installs every one it finds
# in this module) and its load().
from dbusmock.templates.networkmanager import *  # noqa: F401,F403 pylint: disable=wildcard-import,unused-wildcard-import
from dbusmock.templates import networkmanager as stock

BUS_NAME = stock.BUS_NAME
MAIN_OBJ = stock.MAIN_OBJ
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ACTIVATING = dbus.UInt32(1)
ACTIVATED = dbus.UInt32(2)
DEACTIVATED = dbus.UInt32(4)
NM_STATE_DISCONNECTED = 20
NM_STATE_CONNECTED_GLOBAL = 70


# Every call of every object is looked up here first: a slow service is one
# whose lookups sleep (the Delay parameter).
DELAY = [0.0]
_method_lookup = dbus.service._method_lookup  # pylint: disable=protected-access


def _slow_method_lookup(obj, method_name, dbus_interface):
    if DELAY[0] > 0:
        time.sleep(DELAY[0])
    return _method_lookup(obj, method_name, dbus_interface)


dbus.service._method_lookup = _slow_method_lookup  # pylint: disable=protected-access


def seconds(parameters, name, default):
    return float(parameters.get(name, default))


def later(delay, action):
    '''Runs action after delay seconds (never when negative).'''
    if delay < 0:
        return

    def once():
        action()
        return False

    GLib.timeout_add(int(delay * 1000), once)


def set_manager(main, name, value):
    main.SetProperty(stock.MANAGER_OBJ, stock.MANAGER_IFACE, name, value)


def set_primary(main, path, conn_type, state):
    set_manager(main, 'PrimaryConnection', dbus.ObjectPath(path, variant_level=1))
    set_manager(main, 'PrimaryConnectionType', dbus.String(conn_type, variant_level=1))
    main.SetGlobalConnectionState(state)


def add_profile(settings_obj, conn_id, conn_type, options):
    settings = {'connection': {'id': conn_id, 'type': conn_type, 'uuid': str(uuid.uuid4()),
                               'autoconnect': dbus.Boolean(options.get('autoconnect', False)),
                               'autoconnect-priority': dbus.Int32(options.get('priority', 0))}}
    if 'bluetooth-type' in options:
        settings['bluetooth'] = {'type': options['bluetooth-type']}
    return settings_obj.SettingsAddConnection(settings)


def list_active(main, path, profile, conn_id, conn_type):
    main.AddObject(path, stock.ACTIVE_CONNECTION_IFACE,
                   {'Devices': dbus.Array([], signature='o'),
                    'Default': False,
                    'Default6': False,
                    'Type': conn_type,
                    'Vpn': False,
                    'Connection': dbus.ObjectPath(profile),
                    'Master': dbus.ObjectPath('/'),
                    'SpecificObject': dbus.ObjectPath('/'),
                    'Uuid': str(uuid.uuid4()),
                    'State': ACTIVATING,
                    'Id': conn_id},
                   [])
    manager = dbusmock.get_object(stock.MANAGER_OBJ)
    active = manager.Get(stock.MANAGER_IFACE, 'ActiveConnections')
    active.append(dbus.ObjectPath(path))
    set_manager(main, 'ActiveConnections', active)


def bring_up(main, path, conn_type):
    if path not in dbusmock.mockobject.objects:
        return
    active = dbusmock.get_object(path)
    active.Set(stock.ACTIVE_CONNECTION_IFACE, 'Default', True)
    main.SetProperty(path, stock.ACTIVE_CONNECTION_IFACE, 'State', ACTIVATED)
    set_primary(main, path, conn_type, NM_STATE_CONNECTED_GLOBAL)


def take_away(main, path):
    if path not in dbusmock.mockobject.objects:
        return
    manager = dbusmock.get_object(stock.MANAGER_OBJ)
    active = [p for p in manager.Get(stock.MANAGER_IFACE, 'ActiveConnections') if p != path]
    set_manager(main, 'ActiveConnections', dbus.Array(active, signature='o'))
    if manager.Get(stock.MANAGER_IFACE, 'PrimaryConnection') == path:
        set_primary(main, '/', '', NM_STATE_DISCONNECTED)
    main.SetProperty(path, stock.ACTIVE_CONNECTION_IFACE, 'State', DEACTIVATED)
    main.RemoveObject(path)


def load(mock, parameters):
    stock.load(mock, parameters)
    DELAY[0] = seconds(parameters, 'Delay', 0)
    main = mock
    manager = dbusmock.get_object(stock.MANAGER_OBJ)
    settings_obj = dbusmock.get_object(stock.SETTINGS_OBJ)

    manager.AddProperties(stock.MANAGER_IFACE, {'PrimaryConnection': dbus.ObjectPath('/'),
                                                'PrimaryConnectionType': ''})
    for profile in parameters.get('Profiles', []):
        add_profile(settings_obj, profile[0], profile[1], profile[2] if len(profile) > 2 else {})
    if parameters.get('PrimaryType'):
        set_manager(main, 'PrimaryConnectionType', dbus.String(parameters['PrimaryType'], variant_level=1))
        set_manager(main, 'PrimaryConnection',
                    dbus.ObjectPath('/org/freedesktop/NetworkManager/ActiveConnection/lan', variant_level=1))

    listed_after = seconds(parameters, 'ListedAfter', 0)
    up_after = seconds(parameters, 'UpAfter', 0)
    gone_after = seconds(parameters, 'GoneAfter', -1)
    down_after = seconds(parameters, 'DownAfter', 1)
    counter = [0]

    def activate(_manager, profile, _device, _specific):
        settings = dbusmock.get_object(profile).settings['connection']
        counter[0] += 1
        path = f'/org/freedesktop/NetworkManager/ActiveConnection/{counter[0]}'
        conn_id, conn_type = str(settings['id']), str(settings['type'])
        later(listed_after, lambda: list_active(main, path, profile, conn_id, conn_type))
        if listed_after >= 0:
            later(max(up_after, listed_after) if up_after >= 0 else -1, lambda: bring_up(main, path, conn_type))
            later(max(gone_after, listed_after) if gone_after >= 0 else -1, lambda: take_away(main, path))
        return dbus.ObjectPath(path)

    def deactivate(_manager, path):
        later(down_after, lambda: take_away(main, str(path)))

    def hang(*_args):
        time.sleep(3600)

    manager.AddMethod(stock.MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', activate)
    manager.AddMethod(stock.MANAGER_IFACE, 'DeactivateConnection', 'o', '', deactivate)

    hang_in = parameters.get('Hang', '')
    if hang_in == 'ListConnections':
        settings_obj.AddMethod(stock.SETTINGS_IFACE, 'ListConnections', '', 'ao', hang)
    elif hang_in == 'ActivateConnection':
        manager.AddMethod(stock.MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', hang)
    elif hang_in == 'GetAll':
        manager.AddMethod('org.freedesktop.DBus.Properties', 'GetAll', 's', 'a{sv}', hang)
