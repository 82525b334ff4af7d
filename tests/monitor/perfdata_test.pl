#!/usr/bin/perl
# Monitoring::Plugin::Performance, as graphers and plugin libraries use it,
# reads every perfdata item of the plugin with its warn, crit, min and max,
# whatever threshold ranges were given; a range that alerts inside is
# written as the range that alerts for the same counts, or left out when
# none does.
#
#   perfdata_test.pl PERFDATA_SAMPLE
use strict;
use warnings;

eval { require Monitoring::Plugin::Performance; require Monitoring::Plugin::Range; 1 } or do {
    print "SKIP: libmonitoring-plugin-perl is not installed\n";
    exit 77;
};

my $sample = shift @ARGV or die "usage: $0 PERFDATA_SAMPLE\n";
my $failures = 0;

sub check {
    my ($what, $want, $got) = @_;
    $want = '(none)' unless defined $want;
    $got = '(none)' unless defined $got;
    return if $want eq $got;
    print "FAIL: $what: expected '$want', got '$got'\n";
    $failures++;
}

# The range given, and how the perfdata writes it.
my @ranges = (
    ['5', '5'], ['~:5', '~:5'], ['5:10', '5:10'], ['10:', '10:'], ['0.5', '0.5'],
    ['@5', '6:'], ['@~:2', '3:'], ['@3:', '~:2'], ['@0:', '~:-1'], ['@1.2:1.8', '0:'], ['@1:2', undef],
);
# label => [value, max] for the sample's cluster.
my %items = (
    nodes_online => [2, 3], nodes_enabled => [3, 3], nodes_not_ready => [1, 3],
    services_online => [2, 3], services_enabled => [3, 3], services_not_online => [1, 3],
    time => [0, undef],
);

for my $case (@ranges) {
    my ($range, $written) = @$case;
    open(my $run, '-|', $sample, '-w', $range, '--nodes-critical', $range) or die "cannot run $sample: $!\n";
    my $first = <$run>;
    close($run);
    my (undef, $perfdata) = split(/ \| /, $first // '', 2);
    chomp($perfdata //= '');
    my @parsed = Monitoring::Plugin::Performance->parse_perfstring($perfdata);
    check("$range: items read", scalar(keys %items), scalar(@parsed));
    for my $item (@parsed) {
        my $label = $item->label;
        my ($value, $max) = @{$items{$label} // [undef, undef]};
        check("$range: $label value", $value, $item->value);
        check("$range: $label min", 0, $item->min);
        check("$range: $label max", $max, $item->max);
        my $warning = $label eq 'services_not_online' ? $written : undef;
        my $critical = $label eq 'nodes_not_ready' ? $written : undef;
        check("$range: $label warn", $warning, $item->warning);
        check("$range: $label crit", $critical, $item->critical);
    }
    next unless defined $written;
    # The written range alerts for the same counts as the given one.
    my $given = Monitoring::Plugin::Range->parse_range_string($range);
    my $read = Monitoring::Plugin::Range->parse_range_string($written);
    for my $count (0 .. 12) {
        check("$range as $written alerts for $count", $given->check_range($count), $read->check_range($count));
    }
}
print $failures ? "$failures failures\n" : "all perfdata read\n";
exit($failures ? 1 : 0);
