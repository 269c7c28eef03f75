'''A python-dbusmock template of systemd's manager on the system bus, for the tests.

It follows org.freedesktop.systemd1(5): every property lives on the interface that documents
it (ActiveState on org.freedesktop.systemd1.Unit, ControlGroup and MainPID on
org.freedesktop.systemd1.Service), unit objects have the paths the manager gives them
(sd_bus_path_encode: "pellux.service" is .../unit/pellux_2eservice), jobs are
/org/freedesktop/systemd1/job/<id>, and a unit the manager does not know is refused with
org.freedesktop.systemd1.NoSuchUnit. A client that reads a property through the wrong
interface gets the error real systemd gives it.

Run as `python3 -m dbusmock --system --template <this file>`; AddMockUnit adds a unit, LoadUnit
of an unknown name one that is "not-found".
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.systemd1'
MAIN_OBJ = '/org/freedesktop/systemd1'
MAIN_IFACE = 'org.freedesktop.systemd1.Manager'
UNIT_IFACE = 'org.freedesktop.systemd1.Unit'
SERVICE_IFACE = 'org.freedesktop.systemd1.Service'
SYSTEM_BUS = True

NO_SUCH_UNIT = 'org.freedesktop.systemd1.NoSuchUnit'


def load(mock, _parameters):
    mock.next_job_id = 1
    mock.next_job_result = 'done'
    mock.units = {}
    mock.AddProperties(MAIN_IFACE, {'Version': '252', 'Virtualization': ''})


def unit_object_path(name):
    '''The object path systemd gives a unit: sd_bus_path_encode() of its name, which keeps
    ASCII letters and digits (not a leading digit) and writes every other byte as _xx.'''
    label = ''
    for index, byte in enumerate(name.encode('utf-8')):
        char = chr(byte)
        if char.isascii() and (char.isalpha() or (char.isdigit() and index > 0)):
            label += char
        else:
            label += f'_{byte:02x}'
    return f'{MAIN_OBJ}/unit/{label or "_"}'


def unit_object(mock, name, verb):
    name = str(name)
    if name not in mock.units:
        raise dbus.exceptions.DBusException(f'Unit {name} {verb}.', name=NO_SUCH_UNIT)
    return mockobject.objects[mock.units[name]]


def queue_job(mock, name):
    '''A job that ends at once: JobNew, then JobRemoved with its result ("done" unless
    SetNextJobResult said otherwise), after the reply.'''
    job_id = mock.next_job_id
    mock.next_job_id += 1
    job_path = f'{MAIN_OBJ}/job/{job_id}'
    result = mock.next_job_result
    mock.next_job_result = 'done'

    def announce():
        mock.EmitSignal(MAIN_IFACE, 'JobNew', 'uos', [job_id, job_path, name])
        mock.EmitSignal(MAIN_IFACE, 'JobRemoved', 'uoss', [job_id, job_path, name, result])
        return False

    GLib.idle_add(announce)
    return job_path


def set_running(unit, name, running):
    unit.UpdateProperties(UNIT_IFACE, {
        'ActiveState': 'active' if running else 'inactive',
        'SubState': 'running' if running else 'dead',
    })
    if name.endswith('.service'):
        unit.UpdateProperties(SERVICE_IFACE, {
            'ControlGroup': f'/system.slice/{name}' if running else '',
        })


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StartUnit(self, name, _mode):
    unit = unit_object(self, name, 'not found')
    set_running(unit, str(name), True)
    return queue_job(self, str(name))


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StopUnit(self, name, _mode):
    unit = unit_object(self, name, 'not loaded')
    set_running(unit, str(name), False)
    return queue_job(self, str(name))


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o')
def GetUnit(self, name):
    unit_object(self, name, 'not loaded')
    return self.units[str(name)]


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o')
def LoadUnit(self, name):
    '''The unit's object, as GetUnit gives it; for a name the manager does not know, a new
    object with LoadState "not-found", as systemd loads a unit that has no file.'''
    name = str(name)
    if name not in self.units:
        path = unit_object_path(name)
        self.units[name] = path
        self.AddObject(path, UNIT_IFACE, {
            'Id': name,
            'Names': dbus.Array([name], signature='s'),
            'Description': name,
            'LoadState': 'not-found',
            'ActiveState': 'inactive',
            'SubState': 'dead',
            'UnitFileState': '',
        }, [])
    return self.units[name]


@dbus.service.method(MAIN_IFACE, in_signature='asbb', out_signature='ba(sss)')
def EnableUnitFiles(self, _files, _runtime, _force):
    return (False, [])


@dbus.service.method(MAIN_IFACE, in_signature='asb', out_signature='a(sss)')
def DisableUnitFiles(self, _files, _runtime):
    return []


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Reload(self):
    pass


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Subscribe(self):
    '''Job signals go out once a client has subscribed; the mock sends them anyway.'''


@dbus.service.method(MOCK_IFACE, in_signature='s')
def SetNextJobResult(self, result):
    '''The result ("failed", "timeout", ...) the next job ends with; later ones end "done".'''
    self.next_job_result = str(result)


@dbus.service.method(MOCK_IFACE, in_signature='s')
def AddMockUnit(self, name):
    '''A loaded, inactive unit; a service unit has the Service interface too.'''
    name = str(name)
    path = unit_object_path(name)
    self.units[name] = path
    self.AddObject(path, UNIT_IFACE, {
        'Id': name,
        'Names': dbus.Array([name], signature='s'),
        'Description': name,
        'LoadState': 'loaded',
        'ActiveState': 'inactive',
        'SubState': 'dead',
        'UnitFileState': 'disabled',
    }, [])
    if name.endswith('.service'):
        mockobject.objects[path].AddProperties(SERVICE_IFACE, {
            'Type': 'simple',
            'Result': 'success',
            'ControlGroup': '',
            'MainPID': dbus.UInt32(0),
        })
