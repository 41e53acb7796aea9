'''systemd for Veltrane's tests of time services and of the machine's run

python-dbusmock's own systemd template, answering as systemd does where
Veltrane cares: GetUnit and StartUnit of a unit that is not loaded fail with
NoSuchUnit, and a started service runs for a while as a job, then ends with
a result and an exit status of its own.

Parameters (a JSON object):

  Refuse          the D-Bus error name with which StartUnit is refused (as
                  when polkit says no); absent: started
  RunSeconds      how long a started service's job stays (default 0.5)
  Result          the service's Result once its job has gone (default
                  "success")
  ExecMainStatus  its exit status then (default 0)
  RefuseRef       the D-Bus error name with which a unit's Ref is refused;
                  a unit nobody holds is unloaded (its object goes) as soon
                  as it has ended well, as systemd collects it
'''

import dbus
from gi.repository import GLib

# The stock template's D-Bus methods (AddTemplate installs every one it finds
# in this module) and its load().
from dbusmock.templates.systemd import *  # noqa: F401,F403 pylint: disable=wildcard-import,unused-wildcard-import
from dbusmock.templates import systemd as stock
from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = stock.BUS_NAME
MAIN_OBJ = stock.MAIN_OBJ
MAIN_IFACE = stock.MAIN_IFACE
SYSTEM_BUS = True
SERVICE_IFACE = 'org.freedesktop.systemd1.Service'
JOB_IFACE = 'org.freedesktop.systemd1.Job'


def load(mock, parameters):
    stock.load(mock, parameters)
    mock.veltrane = {
        'refuse': parameters.get('Refuse', ''),
        'seconds': float(parameters.get('RunSeconds', 0.5)),
        'result': parameters.get('Result', 'success'),
        'status': int(parameters.get('ExecMainStatus', 0)),
        'refuse_ref': parameters.get('RefuseRef', ''),
    }
    mock.held = set()


def no_such_unit(name):
    return dbus.exceptions.DBusException(f'Unit {name} not loaded.', name='org.freedesktop.systemd1.NoSuchUnit')


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o')
def GetUnit(self, name):
    if str(name) not in self.units:
        raise no_such_unit(name)
    return self.units[str(name)]


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StartUnit(self, name, _mode):
    settings = self.veltrane
    if settings['refuse']:
        raise dbus.exceptions.DBusException('Access denied', name=settings['refuse'])
    if str(name) not in self.units:
        raise no_such_unit(name)
    job_id = self.next_job_id
    self.next_job_id += 1
    job_path = f'{stock.PATH_PREFIX}/job/{job_id}'
    unit = mockobject.objects[self.units[str(name)]]
    self.AddObject(job_path, JOB_IFACE, {'Id': dbus.UInt32(job_id), 'State': 'running'}, [])
    unit.UpdateProperties(stock.UNIT_IFACE, {'ActiveState': 'activating'})

    def end():
        self.RemoveObject(job_path)
        failed = settings['result'] != 'success'
        unit.UpdateProperties(stock.UNIT_IFACE, {'ActiveState': 'failed' if failed else 'inactive'})
        unit.UpdateProperties(SERVICE_IFACE, {'Result': settings['result'],
                                              'ExecMainStatus': dbus.Int32(settings['status'])})
        if not failed and str(name) not in self.held:
            self.RemoveObject(self.units.pop(str(name)))
        return False

    GLib.timeout_add(int(settings['seconds'] * 1000), end)
    return job_path


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o')
def LoadUnit(self, name):
    if str(name) not in self.units:
        # What systemd answers for a unit that has no file: a unit not found.
        path = f'{stock.PATH_PREFIX}/unit/{stock.escape_unit_name(str(name))}'
        if path not in mockobject.objects:
            self.AddObject(path, stock.UNIT_IFACE, {'Id': name, 'LoadState': 'not-found'}, [])
        return path
    return self.units[str(name)]


@dbus.service.method(MOCK_IFACE, in_signature='s')
def AddMockUnit(self, name):
    stock.AddMockUnit(self, name)
    unit = mockobject.objects[self.units[str(name)]]
    unit.AddProperties(SERVICE_IFACE, {'Result': 'success', 'ExecMainStatus': dbus.Int32(0)})
    refuse = self.veltrane['refuse_ref']
    ref = (f"raise dbus.exceptions.DBusException('Access denied', name={refuse!r})" if refuse
           else f"objects[{MAIN_OBJ!r}].held.add({str(name)!r})")
    unit.AddMethods(stock.UNIT_IFACE, [('Ref', '', '', ref),
                                        ('Unref', '', '', f"objects[{MAIN_OBJ!r}].held.discard({str(name)!r})")])
