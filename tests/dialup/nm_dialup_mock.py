'''NetworkManager mock for the dial-up tests.

The stock NetworkManager template of python-dbusmock, plus what a dial needs to be tested:
an agent manager, one wired device (so that deactivation removes active connections), and an
activation that takes a moment, may fail with a given reason, or may first ask the
registered secret agents for the profile's secrets, as the real service does.

Outcomes are set per profile name with SetDialOutcome(id, kind, ac_reason, device_reason,
password) on the main mock object; kind is "ok", "fail", "vanish", "hang", "secrets",
"late" (activated after ac_reason milliseconds) or "slowreply" (ActivateConnection answers
only after ac_reason milliseconds, and the activation then never ends).

Like the real service, the mock takes only secrets from a secret agent: whatever else an
agent answers (a user name, say) is dropped, and the activation uses the profile's own
settings as they are when it starts. Profiles accept Update2 (in-memory or to-disk); the
flags of every call are kept by the mock's call log.
'''

# pylint: disable=wildcard-import,unused-wildcard-import,invalid-name
from dbusmock.templates.networkmanager import *  # noqa: F401,F403
from dbusmock.templates import networkmanager as _nm

import time

import dbus
import dbusmock
from dbusmock import MOCK_IFACE
from gi.repository import GLib

AGENT_MANAGER_OBJ = '/org/freedesktop/NetworkManager/AgentManager'
AGENT_MANAGER_IFACE = 'org.freedesktop.NetworkManager.AgentManager'
AGENT_OBJ = '/org/freedesktop/NetworkManager/SecretAgent'
AGENT_IFACE = 'org.freedesktop.NetworkManager.SecretAgent'
DEVICE_OBJ = '/org/freedesktop/NetworkManager/Devices/ppp0'

_outcomes = {}
_received = []

# The keys a secret agent may set, by setting; all others are not secrets.
SECRET_KEYS = {'password', 'pin', 'puk', 'secrets', 'psk', 'private-key-password',
               'phase2-private-key-password', 'password-raw', 'wep-key0', 'leap-password'}
UPDATE2_FLAGS = 0x7f


def _set_state(ac_path, state, reason):
    ac = dbusmock.get_object(ac_path)
    ac.Set(_nm.ACTIVE_CONNECTION_IFACE, 'State', dbus.UInt32(state))
    ac.EmitSignal(_nm.ACTIVE_CONNECTION_IFACE, 'StateChanged', 'uu',
                  [dbus.UInt32(state), dbus.UInt32(reason)])


def _fail(ac_path, ac_reason, device_reason):
    if device_reason:
        dev = dbusmock.get_object(DEVICE_OBJ)
        dev.Set(_nm.DEVICE_IFACE, 'StateReason', (dbus.UInt32(120), dbus.UInt32(device_reason)))
        dev.EmitSignal(_nm.DEVICE_IFACE, 'StateChanged', 'uuu',
                       [dbus.UInt32(120), dbus.UInt32(40), dbus.UInt32(device_reason)])
    _set_state(ac_path, 4, ac_reason)
    # The real service drops a failed activation shortly after.
    GLib.timeout_add(100, lambda: _remove(ac_path))


def _remove(ac_path):
    manager = dbusmock.get_object(_nm.MANAGER_OBJ)
    # It may have been deactivated meanwhile.
    if ac_path in manager.Get(_nm.MANAGER_IFACE, 'ActiveConnections'):
        manager.RemoveActiveConnection(DEVICE_OBJ, ac_path)
    return False


def _ask_agents(manager, conn_path, setting, done):
    bus = manager.connection
    own = bus.get_unique_name()
    names = [n for n in bus.list_names() if n.startswith(':') and n != own]
    state = {'pending': len(names), 'answered': False}

    def on_reply(secrets):
        if not state['answered']:
            state['answered'] = True
            done(secrets)

    def on_error(_error):
        state['pending'] -= 1
        if state['pending'] == 0 and not state['answered']:
            state['answered'] = True
            done(None)

    if not names:
        done(None)
        return
    # The profile's settings without secrets, as the real service sends them.
    conn = dbusmock.get_object(conn_path).settings['connection']
    settings = dbus.Dictionary({
        'connection': dbus.Dictionary({k: str(conn[k]) for k in ('id', 'type', 'uuid') if k in conn},
                                      signature='sv')}, signature='sa{sv}')
    for name in names:
        bus.call_async(name, AGENT_OBJ, AGENT_IFACE, 'GetSecrets', 'a{sa{sv}}osasu',
                       (settings, dbus.ObjectPath(conn_path), setting, [], dbus.UInt32(1)),
                       on_reply, on_error)


def _activate(self, conn, _dev, _specific):
    conn_obj = dbusmock.get_object(conn)
    conn_id = str(conn_obj.settings['connection']['id'])
    kind, ac_reason, device_reason, password = _outcomes.get(conn_id, ('ok', 0, 0, ''))

    count = 0
    active = self.Get(_nm.MANAGER_IFACE, 'ActiveConnections')
    while dbus.ObjectPath(f'/org/freedesktop/NetworkManager/ActiveConnection/{count}') in active:
        count += 1
    ac_path = self.AddActiveConnection([DEVICE_OBJ], conn, '/', str(count), dbus.UInt32(1))
    # The activation works with the profile as it is now.
    applied = {k: dict(v) for k, v in conn_obj.settings.items()}

    def step():
        if kind == 'late':
            GLib.timeout_add(ac_reason, lambda: _set_state(ac_path, 2, 1) and False)
        elif kind == 'ok':
            _set_state(ac_path, 2, 1)
        elif kind == 'fail':
            _fail(ac_path, ac_reason, device_reason)
        elif kind == 'secrets':
            setting = str(conn_obj.settings['connection']['type'])

            def done(secrets):
                if secrets is None:
                    _fail(ac_path, 9, 7)
                    return
                values = {k: v for k, v in secrets.get(setting, {}).items() if k in SECRET_KEYS}
                user = applied.get(setting, {}).get('username')
                if user is not None:
                    values['username'] = user
                _received.append(setting + ' ' + ' '.join(
                    f'{k}={values[k]}' for k in sorted(values.keys())))
                if str(values.get('password', '')) == password:
                    _set_state(ac_path, 2, 1)
                else:
                    _fail(ac_path, 10, 0)

            _ask_agents(self, conn, setting, done)
        elif kind == 'vanish':
            # Dropped without a word: no change signal, the object is just gone.
            _remove(ac_path)
        # 'hang' never leaves the activating state.
        return False

    GLib.timeout_add(50, step)
    if kind == 'slowreply':
        # Accepted, but the answer comes late: the caller's wait for it may end first.
        time.sleep(ac_reason / 1000.0)
    return ac_path


def _deactivate(self, ac_path):
    if ac_path not in self.Get(_nm.MANAGER_IFACE, 'ActiveConnections'):
        raise dbus.exceptions.DBusException(
            'not active', name='org.freedesktop.NetworkManager.ConnectionNotActive')
    _set_state(ac_path, 4, 2)
    self.RemoveActiveConnection(DEVICE_OBJ, ac_path)


def _update2(self, settings, flags, args):
    if int(flags) & ~UPDATE2_FLAGS or len(args) > 0:
        raise dbus.exceptions.DBusException(
            'unknown flag or argument', name='org.freedesktop.NetworkManager.Settings.InvalidArguments')
    if not int(flags) & 0x1 and not int(flags) & 0x2:
        raise dbus.exceptions.DBusException(
            'the mock wants to be told where the change goes',
            name='org.freedesktop.NetworkManager.Settings.InvalidArguments')
    secrets = {k: v['secrets'] for k, v in self.settings.items() if 'secrets' in v}
    self.settings = dbus.Dictionary(
        {k: dbus.Dictionary(v, signature='sv') for k, v in settings.items()}, signature='sa{sv}')
    # An update without secrets keeps those the profile had.
    for k, v in secrets.items():
        self.settings.setdefault(k, dbus.Dictionary({}, signature='sv'))['secrets'] = v
    self.Set(_nm.CSETTINGS_IFACE, 'Unsaved', not int(flags) & 0x1)
    self.EmitSignal(_nm.CSETTINGS_IFACE, 'Updated', '', [])
    return dbus.Dictionary({}, signature='sv')


def load(mock, parameters):
    _nm.load(mock, parameters)
    mock.AddEthernetDevice('ppp0', 'ppp0', _nm.DeviceState.DISCONNECTED)
    mock.AddObject(AGENT_MANAGER_OBJ, AGENT_MANAGER_IFACE, {},
                   [('Register', 's', '', ''),
                    ('RegisterWithCapabilities', 'su', '', ''),
                    ('Unregister', '', '', '')])
    manager = dbusmock.get_object(_nm.MANAGER_OBJ)
    manager.AddMethod(_nm.MANAGER_IFACE, 'ActivateConnection', 'ooo', 'o', _activate)
    manager.AddMethod(_nm.MANAGER_IFACE, 'DeactivateConnection', 'o', '', _deactivate)

    settings = dbusmock.get_object(_nm.SETTINGS_OBJ)
    add_connection = settings.SettingsAddConnection

    def add_with_update2(connection_settings):
        path = add_connection(connection_settings)
        conn = dbusmock.get_object(path)
        conn.Update2Impl = _update2
        conn.AddMethod(_nm.CSETTINGS_IFACE, 'Update2', 'a{sa{sv}}ua{sv}', 'a{sv}',
                       'ret = self.Update2Impl(self, args[0], args[1], args[2])')
        return path

    settings.SettingsAddConnection = add_with_update2


@dbus.service.method(MOCK_IFACE, in_signature='ssuus', out_signature='')
def SetDialOutcome(_self, conn_id, kind, ac_reason, device_reason, password):
    '''How activating the profile named conn_id ends.'''
    _outcomes[str(conn_id)] = (str(kind), int(ac_reason), int(device_reason), str(password))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def GetReceivedSecrets(_self):
    '''The secrets that agents answered with, one "setting key=value ..." each.'''
    return dbus.Array(_received, signature='s')
