# -*- coding: utf-8 -*-
# Copyright: 2026 Tarnex Viravi maintainers
"""The one runner of tarnex-viravi for the modules of tarnex.cluster.

The cluster is read only from ``cluster status -o json``; every change is
one client command line, recorded in ``commands`` whether it is run or,
in check mode, only planned.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type  # pylint: disable=invalid-name

import json
import shlex
import time

# Exit statuses of tarnex-viravi.
STATUS_OK = 0
STATUS_CONFIG = 1
STATUS_FAILED = 11
STATUS_REFUSED = 12

COMMON_ARGUMENT_SPEC = dict(
    binary_path=dict(type='path', default='tarnex-viravi'),
    timeout=dict(type='int', default=60),
)

WAIT_ARGUMENT_SPEC = dict(
    wait_timeout=dict(type='int', default=300),
    wait_sleep=dict(type='float', default=2.0),
)


def check_common_params(module):
    """Refuses values of the shared options that no run could use."""
    params = module.params
    if params['timeout'] < 0:
        module.fail_json(msg='timeout must be 0 (wait for ever) or more seconds, not %d' % params['timeout'])
    if 'wait_timeout' in params and params['wait_timeout'] < 1:
        module.fail_json(msg='wait_timeout must be at least 1 second, not %d' % params['wait_timeout'])
    if 'wait_sleep' in params and not params['wait_sleep'] > 0:
        module.fail_json(msg='wait_sleep must be more than 0 seconds, not %s' % params['wait_sleep'])


def is_enabled(record):
    """The document has true, false, null or "" (not sent) for enabled."""
    return record.get('enabled') is True


class Cluster:
    """One reading of ``cluster status -o json``."""

    def __init__(self, document):
        cluster = (document or {}).get('cluster') or {}
        self.nodes = list(cluster.get('nodes') or [])
        self.services = list(cluster.get('services') or [])

    def node(self, ref):
        """The node named ``ref``, by name or by its id as typed, or None."""
        ref = str(ref)
        for node in self.nodes:
            if node.get('name') == ref:
                return node
        for node in self.nodes:
            if node.get('id') is not None and str(node.get('id')) == ref:
                return node
        return None

    def node_by_id(self, node_id):
        for node in self.nodes:
            if node.get('id') == node_id and node_id is not None:
                return node
        return None

    def service(self, name):
        for service in self.services:
            if service.get('name') == name:
                return service
        return None

    def node_name(self, node_id):
        node = self.node_by_id(node_id)
        return node.get('name') if node else None

    def services_on(self, node_id):
        return [s for s in self.services if s.get('nodeId') == node_id and node_id not in (None, -1)]

    def services_by_node(self):
        placed = dict((n.get('name'), []) for n in self.nodes)
        for service in self.services:
            name = self.node_name(service.get('nodeId'))
            if name is not None:
                placed[name].append(service.get('name'))
        return placed

    def healthy(self):
        records = self.nodes + self.services
        return all(r.get('state') == 'ONLINE' for r in records if is_enabled(r))

    def as_dict(self):
        return dict(nodes=self.nodes, services=self.services)


def node_usable(node):
    """Why tarnex-viravi would refuse ``node`` as the target of a start or move, or None."""
    name = node.get('name')
    if not isinstance(node.get('id'), int) or isinstance(node.get('id'), bool):
        return 'cannot resolve node id: %s' % name
    if not is_enabled(node):
        return 'cannot run service on disabled node: %s' % name
    if node.get('state') != 'ONLINE':
        return 'cannot run service on node %s: state is %s' % (name, node.get('state'))
    return None


def output_lines(text):
    """The client's lines, without its progress dots."""
    return [line for line in (text or '').splitlines() if line.strip() and line.strip('.')]


class TarnexRunner:
    """Runs tarnex-viravi for a module: reads the cluster and makes changes."""

    def __init__(self, module):
        self.module = module
        self.commands = []
        self.messages = []
        self.warnings = []
        self.started = time.monotonic()
        binary = module.params['binary_path']
        if '/' not in binary:
            binary = module.get_bin_path(binary, required=True)
        self.binary = binary

    def argv(self, args):
        return [self.binary] + list(args) + ['--timeout=%d' % self.module.params['timeout']]

    def duration(self):
        return round(time.monotonic() - self.started, 3)

    def _run(self, argv):
        return self.module.run_command(argv, environ_update=dict(LC_ALL='C', LANG='C'))

    def _fail(self, msg, argv, rc, out, err, **extra):
        self.module.fail_json(msg=msg, rc=rc, stdout=out, stderr=err, cmd=shlex.join(argv),
                              commands=self.commands, messages=self.messages, **extra)

    def _fail_status(self, argv, rc, out, err):
        """Status 1 and 12 end the task whatever the command was."""
        if rc == STATUS_CONFIG:
            lines = output_lines(err)
            self._fail('tarnex-viravi cannot use its configuration: %s' % ' / '.join(lines),
                       argv, rc, out, err, configuration=lines)
        if rc == STATUS_REFUSED:
            self._fail('internal error: tarnex-viravi refused the command line (status 12)',
                       argv, rc, out, err)

    def read(self):
        """The cluster as ``cluster status -o json`` shows it."""
        argv = self.argv(['cluster', 'status', '-o', 'json'])
        rc, out, err = self._run(argv)
        self._fail_status(argv, rc, out, err)
        if rc != STATUS_OK:
            self._fail('cannot read the cluster state: %s' % ' / '.join(output_lines(err)),
                       argv, rc, out, err)
        try:
            document = json.loads(out)
        except ValueError as exc:
            self._fail('tarnex-viravi printed no JSON document: %s' % exc, argv, rc, out, err)
        if not isinstance(document, dict) or not isinstance(document.get('cluster'), dict):
            self._fail('tarnex-viravi printed no cluster document', argv, rc, out, err)
        return Cluster(document)

    def change(self, args, reached):
        """Runs (or, in check mode, only plans) the change ``args``.

        On status 11 the cluster is read again: when ``reached(cluster)``
        holds, the change took effect all the same and the task goes on
        with a warning; otherwise it fails.
        """
        argv = self.argv(args)
        self.commands.append(shlex.join(argv))
        if self.module.check_mode:
            return
        rc, out, err = self._run(argv)
        self.messages.extend(output_lines(out))
        self._fail_status(argv, rc, out, err)
        if rc == STATUS_OK:
            return
        self.messages.extend(output_lines(err))
        if rc == STATUS_FAILED and reached(self.read()):
            self.warnings.append('%s ended with status 11 (%s), but the cluster is in the wanted state'
                                 % (shlex.join(argv), ' / '.join(output_lines(err))))
            return
        self._fail('%s failed: %s' % (shlex.join(args), ' / '.join(output_lines(err)) or 'status %d' % rc),
                   argv, rc, out, err)

    def wait_for(self, subject, describe, find, holds):
        """Polls until ``holds(record)`` for the record ``find(cluster)``.

        A record that is FAILED when that is not what is waited for, and a
        record that does not exist, fail at once; the time limit fails with
        the last record.
        """
        params = self.module.params
        deadline = time.monotonic() + params['wait_timeout']
        while True:
            record = find(self.read())
            if record is None:
                self.fail('%s does not exist' % subject)
            if holds(record):
                return record
            if record.get('state') == 'FAILED':
                self.fail('%s is FAILED while waiting for %s' % (record.get('name'), describe), record=record)
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                self.fail('Timed out after %d s waiting for %s' % (params['wait_timeout'], describe), record=record)
            time.sleep(min(params['wait_sleep'], remaining))

    def fail(self, msg, **result):
        self.module.fail_json(msg=msg, commands=self.commands, messages=self.messages, **result)

    def exit(self, **result):
        for warning in self.warnings:
            self.module.warn(warning)
        self.module.exit_json(commands=self.commands, messages=self.messages,
                              duration=self.duration(), **result)
