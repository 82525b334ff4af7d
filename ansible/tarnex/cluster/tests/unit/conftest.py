# -*- coding: utf-8 -*-
"""A scripted tarnex-viravi for the modules: the cluster document it prints,
the status each change ends with, and what each change does to the cluster."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

import copy
import json

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes


class Exit(Exception):
    """exit_json or fail_json, with the result."""

    def __init__(self, failed, result):
        super().__init__(result.get('msg'))
        self.failed = failed
        self.result = result


def cluster_document():
    node = dict
    return {'cluster': {
        'nodes': [node(id=1, name='nas-a', state='ONLINE', enabled=True),
                  node(id=2, name='nas-b', state='ONLINE', enabled=True),
                  node(id=3, name='nas-c', state='ONLINE', enabled=True)],
        'services': [dict(name='archive', nodeId=-1, state='STOPPED', enabled=False),
                     dict(name='nfs_gateway', nodeId=3, state='ONLINE', enabled=True),
                     dict(name='zpool_z01', nodeId=1, state='ONLINE', enabled=True),
                     dict(name='zpool_z02', nodeId=2, state='ONLINE', enabled=True),
                     dict(name='zpool_z05', nodeId=2, state='ONLINE', enabled=True)]}}


def apply(document, argv):
    """What the simulated daemon does for one change."""
    cluster = document['cluster']
    system, action = argv[1], argv[2]
    name = argv[argv.index('-s') + 1] if '-s' in argv else None
    ref = argv[argv.index('-n') + 1] if '-n' in argv else None
    if system == 'node':
        node = [n for n in cluster['nodes'] if str(n['id']) == ref][0]
        node['enabled'] = action == 'enable'
        return
    service = [s for s in cluster['services'] if s['name'] == name][0]
    if action in ('enable', 'disable'):
        service['enabled'] = action == 'enable'
    elif action == 'stop':
        service.update(state='STOPPED', nodeId=-1)
    else:
        service.update(state='ONLINE', nodeId=int(ref) if ref else (service['nodeId'] if service['nodeId'] != -1 else 1))


class FakeClient:
    def __init__(self):
        self.document = cluster_document()
        self.changes = []         # the change command lines run
        self.results = {}         # action -> (rc, stdout, stderr, takes effect)
        self.reads = 0
        self.status_rc = 0
        self.status_err = ''
        self.documents = None     # a sequence of documents to read in turn

    def __call__(self, argv, **kwargs):
        assert isinstance(argv, list) and kwargs['environ_update']['LC_ALL'] == 'C'
        assert argv[-1].startswith('--timeout=')
        if argv[1:5] == ['cluster', 'status', '-o', 'json']:
            self.reads += 1
            if self.documents:
                self.document = self.documents.pop(0)
            return self.status_rc, json.dumps(self.document), self.status_err
        self.changes.append(' '.join(argv[1:-1]))
        rc, out, err, effect = self.results.get(argv[2], (0, 'done\n', '', True))
        if effect:
            apply(self.document, argv)
        return rc, out, err


@pytest.fixture
def client(monkeypatch):
    fake = FakeClient()
    monkeypatch.setattr(basic.AnsibleModule, 'run_command', lambda self, argv, **kw: fake(argv, **kw))
    monkeypatch.setattr(basic.AnsibleModule, 'get_bin_path', lambda self, name, **kw: '/usr/bin/' + name)

    def exit_json(self, **result):
        raise Exit(False, result)

    def fail_json(self, msg, **result):
        result['msg'] = msg
        raise Exit(True, result)

    monkeypatch.setattr(basic.AnsibleModule, 'exit_json', exit_json)
    monkeypatch.setattr(basic.AnsibleModule, 'fail_json', fail_json)
    return fake


@pytest.fixture
def run_module(monkeypatch):
    """run_module(main, params, check=False) -> Exit."""
    def run(main, params, check=False, diff=False):
        args = dict(params, _ansible_check_mode=check, _ansible_diff=diff)
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': args})))
        monkeypatch.setattr(basic, '_ANSIBLE_PROFILE', 'legacy', raising=False)
        with pytest.raises(Exit) as caught:
            main()
        return caught.value
    return run


def document_with(**changes):
    """The example document with records changed: name=dict of members."""
    document = copy.deepcopy(cluster_document())
    for record in document['cluster']['nodes'] + document['cluster']['services']:
        record.update(changes.get(record['name'].replace('-', '_'), {}))
    return document
