import datetime
import decimal
import random
import uuid

from django.core.management.base import BaseCommand

from catalog.models import Article

WORDS = "amber birch cedar delta ember fjord grove harbor island jasper kelp lumen meadow".split()


class Command(BaseCommand):
    help = "Fills the database with sample articles (the same ones on every run) if it has none."

    def add_arguments(self, parser):
        parser.add_argument("--rows", type=int, default=2000)

    def handle(self, *args, rows, **options):
        if Article.objects.exists():
            self.stdout.write(f"{Article.objects.count()} articles already there")
            return
        rng = random.Random(12)
        start = datetime.datetime(2024, 1, 1, 8, 0, tzinfo=datetime.timezone.utc)
        Article.objects.bulk_create(
            (
                Article(
                    id=uuid.UUID(int=rng.getrandbits(128), version=4),
                    title=f"{rng.choice(WORDS).title()} {rng.choice(WORDS)} nº {i}",
                    slug=f"article-{i}",
                    price=decimal.Decimal(rng.randrange(100, 100_000)) / 100,
                    stock=rng.randrange(0, 500),
                    rating=round(rng.uniform(1, 5), 2),
                    available=rng.random() < 0.9,
                    published=start + datetime.timedelta(minutes=17 * i),
                    released=(start + datetime.timedelta(days=i % 900)).date(),
                    tags=rng.sample(WORDS, rng.randrange(0, 4)),
                )
                for i in range(rows)
            ),
            batch_size=500,
        )
        self.stdout.write(f"created {rows} articles")
