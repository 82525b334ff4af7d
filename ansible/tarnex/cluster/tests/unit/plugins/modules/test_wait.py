# -*- coding: utf-8 -*-
"""The wait of tarnex_info over a sequence of readings, on a clock of its own."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

import pytest

from ansible_collections.tarnex.cluster.plugins.module_utils import tarnex
from ansible_collections.tarnex.cluster.plugins.modules import tarnex_info
from ansible_collections.tarnex.cluster.tests.unit.conftest import document_with

OFFLINE = document_with(nas_b=dict(state='OFFLINE'))
ONLINE = document_with()
FAILED = document_with(zpool_z05=dict(state='FAILED'))

CASES = [
    # id, readings, condition, failed, reads, message or node id reached
    ('reached on the third reading', [OFFLINE, OFFLINE, ONLINE], dict(kind='node', name='nas-b', state='ONLINE'),
     False, 3, 2),
    ('reached on the wanted node', [ONLINE], dict(kind='service', name='zpool_z05', state='ONLINE', node='nas-b'),
     False, 1, 2),
    ('FAILED ends it at once', [FAILED, ONLINE], dict(kind='service', name='zpool_z05', state='ONLINE'),
     True, 1, 'zpool_z05 is FAILED while waiting for service zpool_z05 to be state ONLINE'),
    ('FAILED when waited for', [FAILED], dict(kind='service', name='zpool_z05', state='FAILED'), False, 1, 2),
    ('a missing name ends it at once', [ONLINE], dict(kind='node', name='nas-z', state='ONLINE'),
     True, 1, 'node nas-z does not exist'),
    ('time out with the last record', [OFFLINE] * 50, dict(kind='node', name='nas-b', state='ONLINE', enabled=True),
     True, 11, 'Timed out after 5 s waiting for node nas-b to be state ONLINE, enabled'),
]


@pytest.mark.parametrize('readings,condition,failed,reads,expected', [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_wait(client, run_module, monkeypatch, readings, condition, failed, reads, expected):
    clock = [0.0]
    monkeypatch.setattr(tarnex.time, 'monotonic', lambda: clock[0])

    def sleep(seconds):
        clock[0] += seconds

    monkeypatch.setattr(tarnex.time, 'sleep', sleep)
    client.documents = list(readings)
    outcome = run_module(tarnex_info.main, dict(wait=True, wait_timeout=5, wait_sleep=0.5, wait_condition=condition))
    assert outcome.failed == failed
    assert client.reads == reads
    if failed:
        assert outcome.result['msg'] == expected
    else:
        assert outcome.result['record'].get('nodeId', outcome.result['record'].get('id')) == expected


def test_read_reports_health_and_placement(client, run_module):
    client.document = document_with(archive=dict(state='FAILED'), nas_c=dict(state='OFFLINE', enabled=False))
    outcome = run_module(tarnex_info.main, {})
    assert outcome.result['healthy']
    assert outcome.result['services_by_node'] == {'nas-a': ['zpool_z01'], 'nas-b': ['zpool_z02', 'zpool_z05'],
                                                  'nas-c': ['nfs_gateway']}
    client.document = document_with(zpool_z01=dict(state='STARTING'))
    assert not run_module(tarnex_info.main, {}).result['healthy']
