"""Starts ruxd-sim on a free loopback port, with a client directory of its own.

    start_sim.py CLIENT SIM EXAMPLE_CLUSTER [DIR]

The directory holds a copy of the example cluster whose mgmt-url is the
simulator's endpoint, a link to the client and the client's settings file
beside it, as an operator sets up one client per cluster. Prints a JSON
object: dir, client, endpoint, pid.
"""
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

client, sim, example = sys.argv[1:4]
if len(sys.argv) > 4:
    directory = sys.argv[4]
    os.makedirs(directory)
else:
    directory = tempfile.mkdtemp(prefix='tarnex-it-')
with socket.socket() as probe:
    probe.bind(('127.0.0.1', 0))
    endpoint = 'tcp://127.0.0.1:%d' % probe.getsockname()[1]
with open(example, encoding='utf-8') as source:
    cluster = json.load(source)
cluster['cluster']['mgmt-url'] = endpoint
config = os.path.join(directory, 'cluster.json')
with open(config, 'w', encoding='utf-8') as target:
    json.dump(cluster, target)
with open(os.path.join(directory, 'tarnex-viravi.config'), 'w', encoding='utf-8') as settings:
    settings.write('[RUXD]\nConfig = %s\n' % config)
os.symlink(client, os.path.join(directory, 'tarnex-viravi'))
log_path = os.path.join(directory, 'sim.log')
with open(log_path, 'w', encoding='utf-8') as log:
    process = subprocess.Popen([sim, '--config', config, '--op-ms', '0'], stdin=subprocess.DEVNULL,
                               stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
deadline = time.monotonic() + 60
while time.monotonic() < deadline:
    with open(log_path, encoding='utf-8') as log:
        if 'listening on' in log.read():
            break
    if process.poll() is not None:
        break
    time.sleep(0.02)
else:
    process.kill()
if process.poll() is not None:
    with open(log_path, encoding='utf-8') as log:
        sys.exit('ruxd-sim did not start: %s' % log.read())
print(json.dumps(dict(dir=directory, client=os.path.join(directory, 'tarnex-viravi'),
                      endpoint=endpoint, pid=process.pid, sim=sim)))
