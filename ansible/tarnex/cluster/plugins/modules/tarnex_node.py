#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnex Viravi maintainers

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

DOCUMENTATION = r'''
---
module: tarnex_node
short_description: Enable, disable and evacuate a node of a Tarnex cluster
version_added: 0.1.0
description:
  - Enables or disables one node of a Tarnex storage cluster, and can move
    every service off it, running the client C(tarnex-viravi) on the managed
    node. Nothing is run when the node already matches; then C(changed) is
    false.
  - Evacuation disables the node first, then moves each service placed on it
    to the first enabled C(ONLINE) node of C(evacuate_to) (or of all nodes, by
    id), one service at a time, waiting for each before the next. A service
    with nowhere to go fails the task before anything is changed.
author:
  - Tarnex Viravi maintainers (@tarnex-viravi)
extends_documentation_fragment:
  - tarnex.cluster.client
  - tarnex.cluster.client.WAIT
attributes:
  check_mode:
    support: full
    description: Runs nothing that changes the cluster, and returns the commands and moves the real run would.
  diff_mode:
    support: full
    description: Shows whether the node is enabled, and its services, before and after.
options:
  name:
    description: The node, by name or id.
    type: str
    required: true
  enabled:
    description: Whether the node is enabled. A disabled node takes no new services.
    type: bool
  evacuate:
    description:
      - Disable the node and move every service placed on it to another node.
      - Cannot be combined with C(enabled=true).
    type: bool
    default: false
  evacuate_to:
    description:
      - The nodes (names or ids) to move services to, in order of preference.
      - Left out, all other nodes in the order of their ids.
    type: list
    elements: str
  wait:
    description:
      - Wait after each move until the service is C(ONLINE) on its new node.
        A service that turns C(FAILED) fails the task at once.
    type: bool
    default: true
'''

EXAMPLES = r'''
- name: Take nas-b out of service, its services to nas-c, else nas-a
  tarnex.cluster.tarnex_node:
    name: nas-b
    evacuate: true
    evacuate_to: [nas-c, nas-a]

- name: Put nas-b back
  tarnex.cluster.tarnex_node:
    name: nas-b
    enabled: true
'''

RETURN = r'''
node:
  description: The node's record after the task (in check mode, the predicted one).
  returned: success
  type: dict
  sample: {name: nas-b, id: 2, state: ONLINE, enabled: false}
previous:
  description: The node's record before the task.
  returned: success
  type: dict
moved:
  description: The services moved off the node (in check mode, to be moved), in order.
  returned: success
  type: list
  elements: dict
  sample: [{service: zpool_z05, from: nas-b, to: nas-c}]
commands:
  description: The client command lines run, or in check mode planned, in their order.
  returned: always
  type: list
  elements: str
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


def evacuation(cluster, node, preferred):
    """The moves that empty ``node``: [(service, target node)], or a refusal."""
    if preferred is None:
        candidates = sorted((n for n in cluster.nodes if isinstance(n.get('id'), int)), key=lambda n: n['id'])
    else:
        candidates = []
        for ref in preferred:
            found = cluster.node(ref)
            if found is None:
                return [], 'node can not be found: %s' % ref
            candidates.append(found)
    usable = [n for n in candidates if n.get('id') != node.get('id') and node_usable(n) is None]
    moves, stranded = [], []
    for service in cluster.services_on(node.get('id')):
        if not usable or not is_enabled(service):
            stranded.append(service.get('name'))
        else:
            moves.append((service, usable[0]))
    if stranded:
        return [], 'nowhere to move %s off node %s: no enabled ONLINE node%s, or the service is disabled' % (
            ', '.join(stranded), node.get('name'), '' if preferred is None else ' in evacuate_to')
    return moves, None


def main():
    argument_spec = dict(
        name=dict(type='str', required=True),
        enabled=dict(type='bool'),
        evacuate=dict(type='bool', default=False),
        evacuate_to=dict(type='list', elements='str'),
        wait=dict(type='bool', default=True),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    argument_spec.update(WAIT_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    check_common_params(module)
    params = module.params
    if params['evacuate'] and params['enabled'] is True:
        module.fail_json(msg='evacuate disables the node: it cannot be combined with enabled=true')
    if params['evacuate_to'] is not None and not params['evacuate']:
        module.fail_json(msg='evacuate_to is only taken with evacuate=true')
    if params['enabled'] is None and not params['evacuate']:
        module.fail_json(msg='one of the following is required: enabled, evacuate')

    runner = TarnexRunner(module)
    cluster = runner.read()
    previous = cluster.node(params['name'])
    if previous is None:
        runner.fail('node can not be found: %s' % params['name'])
    node_id = str(previous.get('id'))
    moves = []
    if params['evacuate']:
        moves, refusal = evacuation(cluster, previous, params['evacuate_to'])
        if refusal:
            runner.fail(refusal, previous=previous)

    def node_record(found):
        return found.node(node_id) or {}

    predicted = dict(previous)
    if params['enabled'] is True and not is_enabled(previous):
        runner.change(['node', 'enable', '-n', node_id], lambda c: is_enabled(node_record(c)))
        predicted['enabled'] = True
    if (params['enabled'] is False or params['evacuate']) and is_enabled(previous):
        runner.change(['node', 'disable', '-n', node_id], lambda c: node_record(c).get('enabled') is False)
        predicted['enabled'] = False

    moved = []
    for service, target in moves:
        name, target_id = service['name'], target['id']

        def on_target(record, target_id=target_id):
            return record.get('state') == 'ONLINE' and record.get('nodeId') == target_id

        runner.change(['service', 'move', '-s', name, '-n', str(target_id)],
                      lambda c, name=name, on_target=on_target: on_target(c.service(name) or {}))
        if params['wait'] and not module.check_mode:
            runner.wait_for('service %s' % name, 'service %s to be ONLINE on node %s' % (name, target['name']),
                            lambda c, name=name: c.service(name), on_target)
        moved.append({'service': name, 'from': previous.get('name'), 'to': target['name']})

    before_services = [s.get('name') for s in cluster.services_on(previous.get('id'))]
    node = predicted
    after_services = [name for name in before_services if name not in [m['service'] for m in moved]]
    if runner.commands and not module.check_mode:
        cluster = runner.read()
        node = cluster.node(node_id) or predicted
        after_services = [s.get('name') for s in cluster.services_on(previous.get('id'))]
    result = dict(changed=bool(runner.commands), node=node, previous=previous, moved=moved)
    if module._diff:  # pylint: disable=protected-access
        result['diff'] = dict(before=dict(enabled=is_enabled(previous), services=before_services),
                              after=dict(enabled=is_enabled(node), services=after_services))
    runner.exit(**result)


if __name__ == '__main__':
    main()
