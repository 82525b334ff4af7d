#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnex Viravi maintainers

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

DOCUMENTATION = r'''
---
module: tarnex_info
short_description: Read a Tarnex cluster, and wait for a node or service to reach a state
version_added: 0.1.0
description:
  - Reads the nodes and services of a Tarnex storage cluster through
    C(tarnex-viravi cluster status -o json) on the managed node.
  - With C(wait), reads again until a node or a service is in the state
    asked for.
author:
  - Tarnex Viravi maintainers (@tarnex-viravi)
extends_documentation_fragment:
  - tarnex.cluster.client
  - tarnex.cluster.client.WAIT
attributes:
  check_mode:
    support: full
    description: Reads only; runs the same in check mode.
  diff_mode:
    support: none
    description: Changes nothing, so has no difference to show.
options:
  wait:
    description:
      - Poll until C(wait_condition) holds.
      - A record that is C(FAILED) when another state is waited for, and a
        name that does not exist, fail at once.
    type: bool
    default: false
  wait_condition:
    description:
      - What to wait for; needed with C(wait).
    type: dict
    suboptions:
      kind:
        description: Whether C(wait_condition.name) is a node or a service.
        type: str
        choices: [node, service]
        required: true
      name:
        description: The node (name or id) or service (name).
        type: str
        required: true
      state:
        description: The state it must be in, for example C(ONLINE) or C(STOPPED).
        type: str
      enabled:
        description: Whether it must be enabled.
        type: bool
      node:
        description:
          - For a service, the node it must run on, by id or name.
        type: str
'''

EXAMPLES = r'''
- name: Read the cluster
  tarnex.cluster.tarnex_info:
  register: tarnex

- name: Stop when the cluster is not healthy
  ansible.builtin.assert:
    that: tarnex.healthy

- name: Wait for nas-b to come back
  tarnex.cluster.tarnex_info:
    wait: true
    wait_timeout: 600
    wait_condition:
      kind: node
      name: nas-b
      state: ONLINE

- name: Wait until zpool_z05 runs on node 2
  tarnex.cluster.tarnex_info:
    binary_path: /srv/tarnex/east/tarnex-viravi
    wait: true
    wait_condition:
      kind: service
      name: zpool_z05
      state: ONLINE
      node: "2"
'''

RETURN = r'''
cluster:
  description: The nodes and services as C(cluster status -o json) has them.
  returned: success
  type: dict
  contains:
    nodes:
      description: Records with C(name), C(id), C(state) and C(enabled).
      type: list
      elements: dict
    services:
      description: Records with C(name), C(nodeId) (-1 when placed nowhere), C(state) and C(enabled).
      type: list
      elements: dict
  sample:
    nodes: [{name: nas-a, id: 1, state: ONLINE, enabled: true}]
    services: [{name: zpool_z01, nodeId: 1, state: ONLINE, enabled: true}]
services_by_node:
  description: For each node name, the names of the services placed on it.
  returned: success
  type: dict
  sample: {nas-a: [zpool_z01], nas-b: []}
healthy:
  description: Whether every enabled node and every enabled service is C(ONLINE).
  returned: success
  type: bool
record:
  description: With C(wait), the record that met the condition.
  returned: when C(wait) is true
  type: dict
duration:
  description: Seconds the task took.
  returned: always
  type: float
commands:
  description: Client command lines of changes; always empty for this module.
  returned: always
  type: list
  elements: str
messages:
  description: The client's output lines of changes; always empty for this module.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tarnex.cluster.plugins.module_utils.tarnex import (
    COMMON_ARGUMENT_SPEC, WAIT_ARGUMENT_SPEC, TarnexRunner, check_common_params)


def condition_text(condition):
    parts = []
    if condition.get('state') is not None:
        parts.append('state %s' % condition['state'])
    if condition.get('enabled') is not None:
        parts.append('enabled' if condition['enabled'] else 'disabled')
    if condition.get('node') is not None:
        parts.append('on node %s' % condition['node'])
    return '%s %s to be %s' % (condition['kind'], condition['name'], ', '.join(parts) or 'present')


def condition_holds(condition, cluster, record):
    if condition.get('state') is not None and record.get('state') != condition['state']:
        return False
    if condition.get('enabled') is not None and (record.get('enabled') is True) != condition['enabled']:
        return False
    if condition.get('node') is not None:
        node = cluster.node(condition['node'])
        if node is None or record.get('nodeId') != node.get('id'):
            return False
    return True


def main():
    argument_spec = dict(
        wait=dict(type='bool', default=False),
        wait_condition=dict(type='dict', options=dict(
            kind=dict(type='str', required=True, choices=['node', 'service']),
            name=dict(type='str', required=True),
            state=dict(type='str'),
            enabled=dict(type='bool'),
            node=dict(type='str'),
        )),
    )
    argument_spec.update(COMMON_ARGUMENT_SPEC)
    argument_spec.update(WAIT_ARGUMENT_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           required_if=[('wait', True, ['wait_condition'])])
    check_common_params(module)
    condition = module.params['wait_condition']
    if condition and condition.get('node') is not None and condition['kind'] != 'service':
        module.fail_json(msg='wait_condition.node is for a service only')

    runner = TarnexRunner(module)
    result = {}
    if module.params['wait']:
        latest = {}

        def find(cluster):
            latest['cluster'] = cluster
            if condition['kind'] == 'node':
                return cluster.node(condition['name'])
            return cluster.service(condition['name'])

        result['record'] = runner.wait_for(
            '%s %s' % (condition['kind'], condition['name']), condition_text(condition), find,
            lambda record: condition_holds(condition, latest['cluster'], record))
        cluster = latest['cluster']
    else:
        cluster = runner.read()
    runner.exit(changed=False, cluster=cluster.as_dict(), services_by_node=cluster.services_by_node(),
                healthy=cluster.healthy(), **result)


if __name__ == '__main__':
    main()
