#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnex Viravi maintainers

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

DOCUMENTATION = r'''
---
module: tarnex_service
short_description: Start, stop, place, enable and disable a service of a Tarnex cluster
version_added: 0.1.0
description:
  - Brings one service of a Tarnex storage cluster to the state asked for,
    running the client C(tarnex-viravi) on the managed node.
  - The plan is made from the service's current record; nothing is run when
    the record already matches, and then C(changed) is false.
  - The service is enabled before it is started, and stopped before it is
    disabled. A stopped service is started on C(node) with
    C(service start -n); a service that runs on another node than C(node) is
    moved there with C(service move).
  - Where the client would refuse a start or move (the node missing,
    disabled or not C(ONLINE), the service disabled), the task fails before
    anything is changed, in check mode too.
author:
  - Tarnex Viravi maintainers (@tarnex-viravi)
extends_documentation_fragment:
  - tarnex.cluster.client
  - tarnex.cluster.client.WAIT
attributes:
  check_mode:
    support: full
    description: Runs nothing that changes the cluster, and returns the commands and the service the real run would.
  diff_mode:
    support: full
    description: Shows C(enabled), C(state) and C(node) before and after.
options:
  name:
    description: The service.
    type: str
    required: true
  state:
    description:
      - C(started) runs the service (on C(node) when given); C(stopped) stops it.
      - Left out, the service is neither started nor stopped.
    type: str
    choices: [started, stopped]
  enabled:
    description: Whether the service is enabled. A disabled service cannot be started.
    type: bool
  node:
    description:
      - The node, by name or id, the service must run on. Only with C(state=started).
    type: str
  wait:
    description:
      - After the changes, poll until the service is in the wanted state on the
        wanted node. A service that turns C(FAILED) fails the task at once.
    type: bool
    default: true
'''

EXAMPLES = r'''
- name: Run zpool_z05 on nas-b
  tarnex.cluster.tarnex_service:
    name: zpool_z05
    state: started
    node: nas-b

- name: Stop and disable the archive service
  tarnex.cluster.tarnex_service:
    name: archive
    state: stopped
    enabled: false

- name: Enable and start nfs_gateway wherever the cluster places it, on the east cluster
  tarnex.cluster.tarnex_service:
    binary_path: /srv/tarnex/east/tarnex-viravi
    name: nfs_gateway
    enabled: true
    state: started
'''

RETURN = r'''
service:
  description:
    - The service's record after the task, as C(cluster status -o json) has it.
    - In check mode the predicted record; its C(nodeId) is null when the
      cluster would choose the node.
  returned: success
  type: dict
  sample: {name: zpool_z05, nodeId: 2, state: ONLINE, enabled: true}
previous:
  description: The service's record before the task.
  returned: success
  type: dict
commands:
  description: The client command lines run, or in check mode planned, in their order.
  returned: always
  type: list
  elements: str
  sample: ["tarnex-viravi service move -s zpool_z05 -n 2 --timeout=60"]
messages:
  description: The client's output lines of the changes.
  returned: always
  type: list
  elements: str
duration:
  description: Seconds the task took.
  returned: always
  type: float
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnex.cluster.plugins.module_utils.tarnex import (
    COMMON_ARGUMENT_SPEC, WAIT_ARGUMENT_SPEC, TarnexRunner, check_common_params, is_enabled, node_usable)

RUNNING = ('ONLINE', 'STARTING')


def plan(params, cluster, service):
    """The steps that bring ``service`` to what ``params`` ask, and the record predicted after them.

    Each step is (client arguments, test of a cluster reading that the step
    took effect). Returns (steps, predicted record, reason of a refusal or None).
    """
    name = service['name']
    steps = []
    after = dict(service)
    target = None
    if params['node'] is not None:
        target = cluster.node(params['node'])
        if target is None:
            return [], after, 'node can not be found: %s' % params['node']

    def record(found):
        return found.service(name) or {}

    if params['enabled'] is True and not is_enabled(service):
        steps.append((['service', 'enable', '-s', name], lambda c: is_enabled(record(c))))
        after['enabled'] = True
    if params['state'] == 'stopped' and service.get('state') != 'STOPPED':
        steps.append((['service', 'stop', '-s', name], lambda c: record(c).get('state') == 'STOPPED'))
        after.update(state='STOPPED', nodeId=-1)
    if params['state'] == 'started':
        running = service.get('state') in RUNNING
        on_target = target is None or service.get('nodeId') == target.get('id')
        if not (running and on_target):
            if not is_enabled(after):
                return [], after, 'cannot start disabled service: %s' % name
            if target is not None:
                refusal = node_usable(target)
                if refusal:
                    return [], after, refusal
            placed = service.get('nodeId') not in (None, -1) and service.get('state') != 'STOPPED'
            if target is None:
                args = ['service', 'start', '-s', name]
                after['nodeId'] = service.get('nodeId') if placed else None
            elif placed and not on_target:
                args = ['service', 'move', '-s', name, '-n', str(target['id'])]
                after['nodeId'] = target['id']
            else:
                args = ['service', 'start', '-s', name, '-n', str(target['id'])]
                after['nodeId'] = target['id']
            target_id = after['nodeId']
            steps.append((args, lambda c: record(c).get('state') == 'ONLINE'
                          and (target_id is None or record(c).get('nodeId') == target_id)))
            after['state'] = 'ONLINE'
    if params['enabled'] is False and is_enabled(service):
        steps.append((['service', 'disable', '-s', name], lambda c: record(c).get('enabled') is False))
        after['enabled'] = False
    return steps, after, None


def diff_view(cluster, record):
    return dict(enabled=is_enabled(record), state=record.get('state'),
                node=cluster.node_name(record.get('nodeId')))


def main():
    argument_spec = dict(
        name=dict(type='str', required=True),
        state=dict(type='str', choices=['started', 'stopped']),
        enabled=dict(type='bool'),
        node=dict(type='str'),
        wait=dict(type='bool', default=True),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    argument_spec.update(WAIT_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           required_one_of=[('state', 'enabled')])
    check_common_params(module)
    params = module.params
    if params['node'] is not None and params['state'] != 'started':
        module.fail_json(msg='node is only taken with state=started')
    if params['state'] == 'started' and params['enabled'] is False:
        module.fail_json(msg='a disabled service cannot be started: state=started needs enabled to be true or left out')

    runner = TarnexRunner(module)
    cluster = runner.read()
    previous = cluster.service(params['name'])
    if previous is None:
        runner.fail('service can not be found: %s' % params['name'])
    steps, predicted, refusal = plan(params, cluster, previous)
    if refusal:
        runner.fail(refusal, previous=previous)
    for args, reached in steps:
        runner.change(args, reached)

    service = predicted
    if steps and not module.check_mode:
        if params['wait'] and params['state'] is not None:
            want = 'ONLINE' if params['state'] == 'started' else 'STOPPED'
            node_id = predicted.get('nodeId') if params['node'] is not None else None
            latest = {}

            def find(found):
                latest['cluster'] = found
                return found.service(params['name'])

            runner.wait_for('service %s' % params['name'],
                            'service %s to be %s%s' % (params['name'], want,
                                                       '' if node_id is None else ' on node %s' % params['node']),
                            find,
                            lambda r: r.get('state') == want and (node_id is None or r.get('nodeId') == node_id))
            cluster = latest['cluster']
        else:
            cluster = runner.read()
        service = cluster.service(params['name']) or predicted
    result = dict(changed=bool(steps), service=service, previous=previous)
    if module._diff:  # pylint: disable=protected-access
        result['diff'] = dict(before=diff_view(cluster, previous), after=diff_view(cluster, service))
    runner.exit(**result)


if __name__ == '__main__':
    main()
