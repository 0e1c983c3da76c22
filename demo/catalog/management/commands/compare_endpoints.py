import json

from django.core.management.base import BaseCommand, CommandError
from django.test import Client

from catalog.endpoints import ENDPOINTS
from catalog.rows import canonical


class Command(BaseCommand):
    help = "Asks every endpoint for the same rows and checks that they all mean the same data."

    def add_arguments(self, parser):
        parser.add_argument("--limit", type=int, default=50)

    def handle(self, *args, limit, **options):
        client = Client()
        reference = None
        for endpoint in ENDPOINTS:
            response = client.get(
                f"/api/{endpoint.slug}/articles/?limit={limit}", HTTP_ACCEPT="application/json"
            )
            if response.status_code != 200:
                raise CommandError(f"{endpoint.slug}: HTTP {response.status_code}")
            body = b"".join(response.streaming_content) if response.streaming else response.content
            rows = canonical(json.loads(body))
            if reference is None:
                reference, reference_slug = rows, endpoint.slug
            elif rows != reference:
                raise CommandError(
                    f"{endpoint.slug} differs from {reference_slug}: {rows[:1]} != {reference[:1]}"
                )
            self.stdout.write(f"{endpoint.slug}: {len(rows)} rows, same data")
