# -*- coding: utf-8 -*-
"""How a change's exit status ends the task: one case per status."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

import pytest

from ansible_collections.tarnex.cluster.plugins.modules import tarnex_service

STOP = dict(name='zpool_z05', state='stopped')

CASES = [
    # id, (rc, stdout, stderr, takes effect), failed, message or warning part
    ('0', (0, 'service zpool_z05 stopped\n', '', True), False, None),
    ('1 configuration', (1, '', 'ruxd:config: cannot open config file: /x.json\nError: mgmt-url is not configured\n', False),
     True, 'cannot use its configuration: ruxd:config: cannot open config file: /x.json / Error: mgmt-url is not configured'),
    ('11 reached', (11, '..\n', 'Error: no reply from tcp://127.0.0.1:1 within 5 s\n', True),
     False, 'ended with status 11 (Error: no reply from tcp://127.0.0.1:1 within 5 s)'),
    ('11 not reached', (11, '', 'Error: service busy\n', False), True, 'service stop -s zpool_z05 failed: Error: service busy'),
    ('12', (12, 'usage\n', '', False), True, 'internal error'),
]


@pytest.mark.parametrize('result,failed,text', [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_status_of_a_change(client, run_module, monkeypatch, result, failed, text):
    warnings = []
    monkeypatch.setattr(tarnex_service.AnsibleModule, 'warn', lambda self, w: warnings.append(w))
    client.results['stop'] = result
    outcome = run_module(tarnex_service.main, STOP)
    assert outcome.failed == failed
    assert client.changes == ['service stop -s zpool_z05']
    if failed:
        assert text in outcome.result['msg']
        assert outcome.result['rc'] == result[0]
        assert outcome.result['stderr'] == result[2]
        assert outcome.result['cmd'].startswith('/usr/bin/tarnex-viravi service stop -s zpool_z05 --timeout=60')
    else:
        assert outcome.result['changed'] and outcome.result['service']['state'] == 'STOPPED'
        assert [w for w in warnings if text in w] if text else not warnings


def test_a_read_that_fails_with_status_1_names_the_configuration(client, run_module):
    client.status_rc, client.status_err = 1, 'ruxd:config: negotiation error:\n  -- nodes[1]: duplicate node id 2\n'
    outcome = run_module(tarnex_service.main, STOP)
    assert outcome.failed and client.changes == []
    assert outcome.result['configuration'] == ['ruxd:config: negotiation error:', '  -- nodes[1]: duplicate node id 2']
