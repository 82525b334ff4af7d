# -*- coding: utf-8 -*-
"""What each module plans from the current records, and that check mode
plans the same commands without running any."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

import pytest

from ansible_collections.tarnex.cluster.plugins.modules import tarnex_node, tarnex_service
from ansible_collections.tarnex.cluster.tests.unit.conftest import document_with

SERVICE_CASES = [
    # id, records changed, params, commands or refusal
    ('start on a node', dict(zpool_z05=dict(state='STOPPED', nodeId=-1)),
     dict(name='zpool_z05', state='started', node='nas-c'), ['service start -s zpool_z05 -n 3']),
    ('move when on another node', {}, dict(name='zpool_z05', state='started', node='3'),
     ['service move -s zpool_z05 -n 3']),
    ('nothing when on the node', {}, dict(name='zpool_z05', state='started', node='nas-b'), []),
    ('nothing when running and no node asked', {}, dict(name='zpool_z05', state='started', enabled=True), []),
    ('restart a FAILED service where it is', dict(zpool_z05=dict(state='FAILED')),
     dict(name='zpool_z05', state='started'), ['service start -s zpool_z05']),
    ('enable before start', {}, dict(name='archive', state='started', enabled=True),
     ['service enable -s archive', 'service start -s archive']),
    ('stop before disable', {}, dict(name='zpool_z01', state='stopped', enabled=False),
     ['service stop -s zpool_z01', 'service disable -s zpool_z01']),
    ('a disabled service is not started', {}, dict(name='archive', state='started'),
     'cannot start disabled service: archive'),
    ('a disabled node is refused', dict(nas_c=dict(enabled=False)), dict(name='zpool_z05', state='started', node='nas-c'),
     'cannot run service on disabled node: nas-c'),
    ('an OFFLINE node is refused', dict(nas_c=dict(state='OFFLINE')), dict(name='zpool_z05', state='started', node='nas-c'),
     'cannot run service on node nas-c: state is OFFLINE'),
    ('a missing node is refused', {}, dict(name='zpool_z05', state='started', node='nas-z'), 'node can not be found: nas-z'),
    ('a missing service is refused', {}, dict(name='zpool_z99', state='stopped'), 'service can not be found: zpool_z99'),
    # Input no run could use.
    ('node without started', {}, dict(name='zpool_z05', state='stopped', node='nas-a'), 'node is only taken with state=started'),
    ('started yet disabled', {}, dict(name='zpool_z05', state='started', enabled=False), 'a disabled service cannot be started'),
    ('unknown state', {}, dict(name='zpool_z05', state='running'), 'value of state must be one of'),
    ('negative timeout', {}, dict(name='zpool_z05', state='stopped', timeout=-1), 'timeout must be 0'),
    ('no wait_sleep', {}, dict(name='zpool_z05', state='stopped', wait_sleep=0), 'wait_sleep must be more than 0'),
]

NODE_CASES = [
    ('evacuate by id order', {}, dict(name='nas-b', evacuate=True),
     ['node disable -n 2', 'service move -s zpool_z02 -n 1', 'service move -s zpool_z05 -n 1']),
    ('evacuate by preference, skipping a disabled node', dict(nas_c=dict(enabled=False)),
     dict(name='nas-b', evacuate=True, evacuate_to=['nas-c', 'nas-a']),
     ['node disable -n 2', 'service move -s zpool_z02 -n 1', 'service move -s zpool_z05 -n 1']),
    ('nowhere to go', dict(nas_a=dict(state='OFFLINE')), dict(name='nas-b', evacuate=True, evacuate_to=['nas-a']),
     'nowhere to move zpool_z02, zpool_z05 off node nas-b'),
    ('nothing when disabled and empty', dict(nas_b=dict(enabled=False), zpool_z02=dict(nodeId=1), zpool_z05=dict(nodeId=1)),
     dict(name='nas-b', evacuate=True), []),
    ('enable', dict(nas_b=dict(enabled=False)), dict(name='2', enabled=True), ['node enable -n 2']),
    ('nothing when enabled', {}, dict(name='nas-b', enabled=True), []),
]


def cases(table, main):
    return [pytest.param(main, records, params, expected, id=name) for name, records, params, expected in table]


@pytest.mark.parametrize('check', [False, True], ids=['run', 'check'])
@pytest.mark.parametrize('main,records,params,expected',
                         cases(SERVICE_CASES, tarnex_service.main) + cases(NODE_CASES, tarnex_node.main))
def test_plan(client, run_module, main, records, params, expected, check):
    client.document = document_with(**records)
    outcome = run_module(main, dict(dict(wait_sleep=0.01), **params), check=check)
    if isinstance(expected, str):
        assert outcome.failed and expected in outcome.result['msg']
        assert client.changes == [] and outcome.result.get('commands', []) == []
        return
    assert not outcome.failed, outcome.result['msg']
    planned = [c.split(' ', 1)[1].rsplit(' ', 1)[0] for c in outcome.result['commands']]
    assert planned == expected
    assert outcome.result['changed'] == bool(expected)
    assert client.changes == ([] if check else expected)


def test_check_mode_predicts_the_record_the_run_gets(client, run_module):
    params = dict(name='archive', state='started', enabled=True, node='nas-a')
    check = run_module(tarnex_service.main, params, check=True, diff=True)
    run = run_module(tarnex_service.main, params)
    assert check.result['service'] == run.result['service'] == dict(name='archive', nodeId=1, state='ONLINE', enabled=True)
    assert check.result['diff'] == dict(before=dict(enabled=False, state='STOPPED', node=None),
                                        after=dict(enabled=True, state='ONLINE', node='nas-a'))
